// Internal to the damage soak: its random numbers, the known images and
// the damages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "damage_soak.h"
#include "flash/model_list.h"
#include "workspace/workspace.h"

namespace tolv::damage {

// splitmix64: the same numbers from the same seed on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A number from 0 to bound - 1 (bound > 0).
  uint64_t Below(uint64_t bound) { return Next() % bound; }

 private:
  uint64_t state_;
};

// The known workspace of a case: every component but the Background, the
// settings of the DVB-s layout, checksums right, a SystemID with or without
// a built-in header template.
void MakeKnown(Random& random, Workspace& known);

// Writes known in form to dir with the project's savers; returns the path.
std::string WriteForm(Form form, const Workspace& known, const std::string& dir);

// The models of the known "Firmware.dat" of a case (the known SystemID's
// among them), and the file's bytes.
std::vector<ModelList::Model> KnownModels(const Workspace& known);
std::vector<uint8_t> ModelListBytes(const std::vector<ModelList::Model>& models);

// Applies damage to the bytes of a file of form; returns what it changed, or
// "" when the damage does not apply to the form (the case is then drawn again).
std::string ApplyDamage(Random& random, Form form, Damage damage, std::vector<uint8_t>& bytes);

}  // namespace tolv::damage
