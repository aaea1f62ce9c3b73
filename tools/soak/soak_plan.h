// What one run of the soak does, drawn from its seed: the transport, the
// direction, the receiver's numbering, the line, the components and the
// faults, with the command lines of the emulator and of tolv that carry it
// out and how long it should take. The same seed and profile give the same
// plan, so that a run can be replayed from its seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tolv::soak {

enum class Transport { Pty, Usb };
enum class Direction { Download, Upload };

// Components by their block numbers: 0 loader, 1 firmware, 2 settings,
// 3 EEPROM, 4 defaults, 5 background.
inline constexpr int kParts = 6;
// The word tolv and the emulator use for a component ("loader", "flash", ...),
// which is also the base name of its BIN file.
const char* PartWord(int part);

// What every run of a soak shares. Every field takes part in the draws, so a
// replay needs the same profile (ProfileOptions).
struct SoakProfile {
  std::vector<Transport> transports = {Transport::Pty, Transport::Usb};
  std::vector<Direction> directions = {Direction::Download, Direction::Upload};
  // Numberings of the receiver's replies: echo, own, newest, none.
  std::vector<std::string> numberings = {"echo", "own"};
  bool seqSwitch = false;  // the emulator takes --seq MODE (else "own" is --own-seq)
  // The data of a run takes about this long on a paced serial line.
  double lineSeconds = 3;
  // Faults per run: from 1 up to this many (about; they are drawn per packet).
  int maxFaults = 8;
  // Every run a download of the loader from an emulator that garbles data
  // behind good checksums: each run that ends with exit status 0 must then be
  // classed as silent corruption (the soak checking itself).
  bool sabotage = false;
};

struct FaultPlan {
  // Chances per packet of a transfer, in percent.
  double drop = 0, corrupt = 0, late = 0, slow = 0, junk = 0;
  // Downloads: replies sent twice (the copy at once or lateMs later), and
  // data replies held until the answer to their repeat has gone out.
  double duplicate = 0, duplicateLate = 0, overtake = 0;
  int lateMs = 450;
  int unplugAfter = -1;       // packets; -1: the cable stays in
  int interruptAfterMs = -1;  // Ctrl-C this long after tolv starts; -1: none
  int garbleEvery = 0;        // data replies garbled (sabotage)
};

struct RunPlan {
  uint64_t seed = 0;
  Transport transport = Transport::Pty;
  Direction direction = Direction::Download;
  std::string numbering = "echo";
  uint32_t baud = 0;         // the serial line's rate; 0: unpaced (and on USB)
  std::vector<int> parts;    // ascending block numbers, not empty
  size_t firmwareSize = 0;   // bytes of the firmware the run moves
  double firmwareNoise = 0;  // share of incompressible bytes in it (0 to 1)
  FaultPlan faults;
  int packets = 0;             // transfer packets the receiver sends, about
  double expectedSeconds = 0;  // the run's time, about
};

RunPlan MakePlan(uint64_t seed, const SoakProfile& profile);

// One line: "usb upload loader,eeprom seq=own drop 2.1% late 1.4% unplug@12".
std::string DescribePlan(const RunPlan& plan);

// The emulator's options for the plan's line, numbering and faults (its
// memory and dump folders come from the caller).
std::vector<std::string> EmulatorFaultArgs(const RunPlan& plan, const SoakProfile& profile);

// After this many seconds a run counts as hung and is ended: three times its
// expected time, and some seconds more for a loaded machine (and for an
// upload, for the two restarts it may need).
double HangBoundSeconds(const RunPlan& plan);

// The options that give a later soak the same profile ("--line-seconds 3
// --max-faults 6 --transports pty,usb ..."), for the replay line.
std::string ProfileOptions(const SoakProfile& profile);

}  // namespace tolv::soak
