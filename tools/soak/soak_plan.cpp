#include "soak_plan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "soak_random.h"

namespace tolv::soak {
namespace {

constexpr int kLoader = 0, kFirmware = 1, kSettings = 2, kEeprom = 3, kDefaults = 4, kBackground = 5;

// Bytes per second of an unpaced pseudo-terminal and of the emulated USB
// bus, as measured on a 2-core machine (rounded down).
constexpr double kUnpacedPtyRate = 1.0e6;
constexpr double kUsbRate = 4.0e6;
constexpr size_t kMaxFirmware = 600000;
// A download never has two requests of one count within the reply window
// (2 s on a serial line, 1 s on USB), and a serial chunk is at most 255 bytes:
// at most 255 + 254 + ... + 1 bytes a window, however fast the line. Each
// block's size request waits for the window of the one before.
constexpr double kSerialDownloadRate = 255.0 * 256.0 / 2.0 / 2.0;
constexpr double kSerialWindowSeconds = 2.0, kUsbWindowSeconds = 1.0;

// A component's bytes on the wire, about: packed blocks are full size, the
// firmware and an upload's TFD image shrink by what compresses.
double WireBytes(int part, const RunPlan& plan) {
  switch (part) {
    case kLoader: return 65536;
    case kFirmware: return static_cast<double>(plan.firmwareSize) * (0.35 + 0.65 * plan.firmwareNoise);
    case kSettings:
    case kDefaults: return 131072;
    case kEeprom: return 256;
    case kBackground: return 262144 * 0.3;
    default: return 0;
  }
}

double LineRate(const RunPlan& plan) {
  if (plan.transport == Transport::Usb) return kUsbRate;
  return plan.baud ? plan.baud / 10.0 : kUnpacedPtyRate;
}

std::vector<int> DrawParts(SoakRandom& random, Direction direction) {
  std::vector<int> parts;
  const int count = direction == Direction::Download ? kBackground : kParts;  // a download never fetches it
  for (int part = 0; part < count; ++part)
    if (random.Chance(45)) parts.push_back(part);
  // An upload that only repeats what the receiver holds proves nothing: the
  // defaults go out as the receiver has them, so something else goes too.
  const bool onlyDefaults = parts.size() == 1 && parts[0] == kDefaults;
  if (parts.empty() || onlyDefaults) parts.push_back(static_cast<int>(random.Between(0, 3)));
  std::sort(parts.begin(), parts.end());
  parts.erase(std::unique(parts.begin(), parts.end()), parts.end());
  return parts;
}

// On a paced line the components must fit the line budget: the largest go
// first, the firmware shrinks to what is left. (An unpaced line or USB has
// room for everything, the firmware up to kMaxFirmware.)
void FitTheLine(RunPlan& plan, SoakRandom& random, double lineSeconds) {
  const double budget = LineRate(plan) * lineSeconds;
  const auto fixedBytes = [&] {
    double total = 0;
    for (int part : plan.parts)
      if (part != kFirmware) total += WireBytes(part, plan);
    return total;
  };
  while (plan.parts.size() > 1 && fixedBytes() > budget) {
    const auto largest = std::max_element(plan.parts.begin(), plan.parts.end(), [&](int a, int b) {
      return (a == kFirmware ? 0 : WireBytes(a, plan)) < (b == kFirmware ? 0 : WireBytes(b, plan));
    });
    plan.parts.erase(largest);
  }
  // An upload of the defaults alone proves nothing (see DrawParts): the
  // EEPROM, which fits any line, goes instead.
  if (plan.direction == Direction::Upload && plan.parts == std::vector<int>{kDefaults})
    plan.parts = {kEeprom};
  // One component alone too long for the paced line: the line goes unpaced.
  if (fixedBytes() > budget) plan.baud = 0;
  const bool firmware = std::find(plan.parts.begin(), plan.parts.end(), kFirmware) != plan.parts.end();
  if (!firmware) return;
  const double room = std::max(1000.0, LineRate(plan) * lineSeconds - fixedBytes());
  const double shrink = 0.35 + 0.65 * plan.firmwareNoise;
  const auto most = static_cast<int64_t>(std::min<double>(kMaxFirmware, room / shrink));
  plan.firmwareSize =
      static_cast<size_t>(random.Between(std::min<int64_t>(1000, most), std::max<int64_t>(1000, most)));
}

// Packets of the receiver for the plan's transfers: block sizes and data
// replies of a download, requests of an upload (header, and per TFD block
// of up to 32 KiB its header and its pieces).
int CountPackets(const RunPlan& plan) {
  const bool usb = plan.transport == Transport::Usb;
  const double piece = plan.direction == Direction::Download ? (usb ? 30000 : 255) : (usb ? 32768 : 255);
  double packets = plan.direction == Direction::Upload ? 1 : 0;
  for (int part : plan.parts) {
    const double bytes = WireBytes(part, plan);
    packets += plan.direction == Direction::Download
                   ? 1 + std::ceil(std::max(bytes, 1.0) / piece)
                   : 2 * std::ceil(bytes / 32762) + std::ceil(bytes / piece);
  }
  return static_cast<int>(packets);
}

// Splits faults over the kinds drawn for the run, as chances per packet.
// Late replies are drawn most: they are what tells a reply to an earlier
// request from the reply to the one in flight, the hardest part of the link.
void DrawChances(RunPlan& plan, SoakRandom& random, int maxFaults) {
  FaultPlan& f = plan.faults;
  const bool serial = plan.transport == Transport::Pty;
  const bool download = plan.direction == Direction::Download;
  std::vector<double*> chosen;
  for (double* kind : {&f.drop, &f.corrupt, &f.late, &f.slow, &f.junk})
    if ((kind != &f.junk || serial) && random.Chance(kind == &f.late ? 70 : 40)) chosen.push_back(kind);
  // Only a download's replies come twice or overtake one another.
  for (double* kind : {&f.duplicate, &f.duplicateLate, &f.overtake})
    if (download && random.Chance(40)) chosen.push_back(kind);
  if (chosen.empty()) chosen.push_back(&f.late);
  const auto any = [&] {
    return chosen[static_cast<size_t>(random.Between(0, static_cast<int64_t>(chosen.size()) - 1))];
  };
  int faults = static_cast<int>(random.Between(1, std::max(1, maxFaults)));
  // Half the runs put all their faults, twice as many, on one kind: a fault
  // that hurts only when it comes again and again is then met several
  // times. Late replies keep slow ones beside them: a reply that follows a
  // late one a little late itself sees the host's next request come in first.
  if (random.Chance(50)) {
    double* focus = random.Chance(50) ? &f.late : any();
    chosen = {focus};
    if (focus == &f.late) chosen.push_back(&f.slow);
    faults = static_cast<int>(random.Between(std::max(1, maxFaults / 2), 2 * std::max(1, maxFaults)));
  }
  for (int i = 0; i < faults; ++i) *any() += 1;
  // Three significant digits, as the emulator is given them.
  char text[32];
  for (double* kind : chosen) {
    std::snprintf(text, sizeof text, "%.3g", std::min(25.0, 100.0 * *kind / std::max(1, plan.packets)));
    *kind = std::strtod(text, nullptr);
  }
}

double ExpectedSeconds(const RunPlan& plan) {
  const bool usb = plan.transport == Transport::Usb;
  double seconds = usb ? 1.5 : 1.2;  // programs, reboot, mode handshake
  double wire = 0;
  for (int part : plan.parts) wire += WireBytes(part, plan);
  double rate = LineRate(plan);
  if (plan.direction == Direction::Download) {
    if (!usb) rate = std::min(rate, kSerialDownloadRate);
    seconds += static_cast<double>(plan.parts.size()) * (usb ? kUsbWindowSeconds : kSerialWindowSeconds);
  }
  seconds += wire / rate + plan.packets * (usb ? 0.003 : 0.002);
  const FaultPlan& f = plan.faults;
  const double faults = plan.packets / 100.0;
  seconds += faults * ((f.drop + f.corrupt) * 2.0 + f.late * (f.lateMs / 1000.0 + 1.0) + f.slow * 0.06 +
                       (f.duplicate + f.duplicateLate) * 0.1 + f.overtake * 1.0);
  return seconds;
}

}  // namespace

const char* PartWord(int part) {
  static const char* const kWords[kParts] = {"loader", "firmware", "flash",
                                             "eeprom", "defaults", "background"};
  return part >= 0 && part < kParts ? kWords[part] : "?";
}

RunPlan MakePlan(uint64_t seed, const SoakProfile& profile) {
  SoakRandom random(seed);
  RunPlan plan;
  plan.seed = seed;
  plan.transport = random.Pick(profile.transports);
  plan.direction = random.Pick(profile.directions);
  plan.numbering = random.Pick(profile.numberings);
  if (plan.transport == Transport::Pty) {
    const double line = random.Uniform();
    plan.baud = line < 0.6 ? 0 : line < 0.85 ? 115200 : 57600;
  }
  plan.parts = DrawParts(random, plan.direction);
  plan.firmwareNoise = random.Uniform();
  if (profile.sabotage) {
    plan.direction = Direction::Download;
    plan.parts = {kLoader};
    plan.baud = 0;
  }
  FitTheLine(plan, random, profile.lineSeconds);
  plan.packets = CountPackets(plan);
  if (profile.sabotage) {
    plan.faults.garbleEvery = 2;  // a USB loader comes in three replies
  } else {
    if (random.Chance(88)) DrawChances(plan, random, profile.maxFaults);
    // Mostly as late as the link rides out: after its time-outs of 200 ms on
    // USB and 300 ms on a serial line, so that the chunk is asked for again,
    // and before its fifth time-out on a serial line (about 550 ms).
    plan.faults.lateMs =
        static_cast<int>(random.Chance(75) ? random.Between(330, 490) : random.Between(200, 1200));
    if (random.Chance(10))
      plan.faults.unplugAfter = static_cast<int>(random.Between(0, std::max(0, plan.packets - 1)));
  }
  plan.expectedSeconds = ExpectedSeconds(plan);
  if (!profile.sabotage && random.Chance(8))
    plan.faults.interruptAfterMs =
        static_cast<int>(random.Between(300, static_cast<int64_t>(plan.expectedSeconds * 1000)));
  return plan;
}

namespace {

// The random fault kinds as the emulator names them, with their chances in percent.
using FaultChances = std::array<std::pair<const char*, double>, 8>;
FaultChances ChancesOf(const FaultPlan& f) {
  return {{{"drop", f.drop},
           {"corrupt", f.corrupt},
           {"late", f.late},
           {"slow", f.slow},
           {"junk", f.junk},
           {"duplicate", f.duplicate},
           {"duplicate-late", f.duplicateLate},
           {"overtake", f.overtake}}};
}

}  // namespace

std::string DescribePlan(const RunPlan& plan) {
  std::string text = plan.transport == Transport::Usb ? "usb" : "pty";
  if (plan.baud) text += "@" + std::to_string(plan.baud);
  text += plan.direction == Direction::Download ? " download " : " upload ";
  for (size_t i = 0; i < plan.parts.size(); ++i)
    text += (i ? "," : "") + std::string(PartWord(plan.parts[i]));
  if (std::find(plan.parts.begin(), plan.parts.end(), kFirmware) != plan.parts.end())
    text += " (firmware " + std::to_string(plan.firmwareSize / 1000) + " kB)";
  text += " seq=" + plan.numbering;
  const FaultPlan& f = plan.faults;
  const FaultChances chances = ChancesOf(f);
  char number[32];
  for (const auto& [name, percent] : chances) {
    if (percent <= 0) continue;
    std::snprintf(number, sizeof number, " %s %.3g%%", name, percent);
    text += number;
  }
  if (f.late > 0 || f.duplicateLate > 0) text += " (" + std::to_string(f.lateMs) + " ms)";
  if (f.unplugAfter >= 0) text += " unplug@" + std::to_string(f.unplugAfter);
  if (f.interruptAfterMs >= 0) text += " ctrl-c@" + std::to_string(f.interruptAfterMs) + "ms";
  if (f.garbleEvery > 0) text += " garble/" + std::to_string(f.garbleEvery);
  return text;
}

std::vector<std::string> EmulatorFaultArgs(const RunPlan& plan, const SoakProfile& profile) {
  std::vector<std::string> args = {"--baud",       std::to_string(plan.baud),     "--boot-ms",
                                   "100",          "--upload-retry-ms",           "500",
                                   "--fault-seed", std::to_string(plan.seed >> 1)};
  if (profile.seqSwitch) {
    args.insert(args.end(), {"--seq", plan.numbering});
  } else if (plan.numbering == "own") {
    args.push_back("--own-seq");
  }
  const FaultPlan& f = plan.faults;
  std::string chances;
  const FaultChances kinds = ChancesOf(f);
  char item[48];
  for (const auto& [name, percent] : kinds) {
    if (percent <= 0) continue;
    std::snprintf(item, sizeof item, "%s%s:%.3g", chances.empty() ? "" : ",", name, percent);
    chances += item;
  }
  if (!chances.empty())
    args.insert(args.end(), {"--random-faults", chances, "--late-ms", std::to_string(f.lateMs)});
  if (f.unplugAfter >= 0) args.insert(args.end(), {"--unplug-after", std::to_string(f.unplugAfter)});
  if (f.garbleEvery > 0) args.insert(args.end(), {"--garble-every", std::to_string(f.garbleEvery)});
  return args;
}

double HangBoundSeconds(const RunPlan& plan) {
  // An upload the receiver gave up is started again, at most twice, each
  // after the link's 10 s without a request and a new reboot.
  const double restarts = plan.direction == Direction::Upload ? 2 * (10 + 5) : 0;
  return 3 * plan.expectedSeconds + 15 + restarts;
}

std::string ProfileOptions(const SoakProfile& profile) {
  const auto join = [](const auto& items, auto word) {
    std::string text;
    for (const auto& item : items) text += (text.empty() ? "" : ",") + std::string(word(item));
    return text;
  };
  char line[32];
  std::snprintf(line, sizeof line, "%g", profile.lineSeconds);
  std::string text =
      "--line-seconds " + std::string(line) + " --max-faults " + std::to_string(profile.maxFaults);
  text += " --transports " +
          join(profile.transports, [](Transport t) { return t == Transport::Usb ? "usb" : "pty"; });
  text += " --directions " + join(profile.directions, [](Direction d) {
            return d == Direction::Download ? "download" : "upload";
          });
  text += " --seq " + join(profile.numberings, [](const std::string& s) { return s; });
  if (profile.sabotage) text += " --sabotage";
  return text;
}

}  // namespace tolv::soak
