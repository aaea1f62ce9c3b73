// How two backups differ. Each backup is loaded into a workspace of its own
// (any input "tolv convert" takes); the comparison looks at the SystemID and
// at each of the six components: present or absent, and for those both hold,
// which bytes differ. The settings (Flash, and the settings part of the
// Defaults) are split into the sections of their layout, the EEPROM (and the
// default EEPROM) into its checksum records, so that a difference can be
// named by what it touches.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workspace/workspace.h"

namespace tolv {

// Offsets first..last (inclusive) of an image.
struct ByteRange {
  uint64_t first = 0;
  uint64_t last = 0;
};

// Most runs of differing bytes kept per comparison; more are only counted.
inline constexpr size_t kMaxListedRuns = 64;

// How the bytes of one offset range of two images differ. A byte that one
// image lacks (it is shorter) counts as differing.
struct BytesDiff {
  uint64_t differing = 0;         // differing bytes
  std::optional<uint64_t> first;  // offset of the first one
  uint64_t runCount = 0;          // runs of adjacent differing bytes
  std::vector<ByteRange> runs;    // the first kMaxListedRuns runs, in offset order
  bool Same() const { return differing == 0; }
};

// Compares offsets begin..end-1 of a and b.
BytesDiff CompareBytes(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint64_t begin,
                       uint64_t end);

// One part of an image that differs: a settings section, an EEPROM record, or
// what lies beyond them.
struct RegionDiff {
  // "section", "settings" (no layout both sides share), "past the sections",
  // "EEPROM record", "past the records", "default EEPROM record",
  // "past the default records", "carried rest".
  std::string region;
  int number = 0;  // section or record number; 0 for the others
  ByteRange span;  // the region's offsets in the image
  BytesDiff bytes;
};

struct ComponentDiff {
  ComponentKind kind = ComponentKind::Loader;
  std::optional<uint64_t> sizeA, sizeB;  // image sizes; unset when absent from that backup
  BytesDiff bytes;                       // the whole images, when both hold the component
  // The recognised settings layout of each side (Flash and Defaults, when
  // both hold the component).
  uint8_t layoutA = kLayoutNone, layoutB = kLayoutNone;
  std::vector<RegionDiff> regions;  // the parts that differ, in offset order

  bool InBoth() const { return sizeA && sizeB; }
  // Absent from both, or held by both with the same bytes.
  bool Same() const { return !sizeA && !sizeB ? true : InBoth() && bytes.Same(); }
};

struct BackupDiff {
  int32_t systemIdA = 0, systemIdB = 0;  // 0: the backup carries none
  std::array<ComponentDiff, kComponentCount> components;

  // The SystemIDs do not differ: they are equal, or a side carries none (a
  // flash dump, BIN files, a folder), which leaves it unknown, not another.
  bool SystemIdSame() const { return systemIdA == systemIdB || systemIdA == 0 || systemIdB == 0; }
  bool Same() const;
};

// Compares backup a with backup b (the loaded workspaces).
BackupDiff Backups_Compare(const Workspace& a, const Workspace& b);

// The comparison as lines of text: the two backups' names ("A: ...", "B:
// ..."), a line for the SystemID ("same, 406 (...)", "A 406 (...), B
// unknown: it carries none", "unknown: neither carries one", "differs: A
// ..., B ...") and one per component ("same", "only in A", "in neither",
// "differs: ..."), below a differing component one line per differing
// region with its runs (at most 8 named), and a last line with the verdict
// ("The backups are the same.", "The backups differ: ..."). Model names
// come from the model list.
std::string BackupDiff_Text(const BackupDiff& diff, const std::string& nameA, const std::string& nameB);

}  // namespace tolv
