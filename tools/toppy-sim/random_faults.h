// Faults drawn at random, packet by packet, from a seed: the packets of a
// transfer (block sizes, data replies, upload requests) are each lost, sent
// with a wrong checksum, sent late or slowly, or preceded by junk, each with
// its own chance. The same seed draws the same faults for the same sequence
// of packets, so a run can be repeated.
#pragma once

#include <cstdint>
#include <string>

namespace tolv::sim {

// Chances in percent (0 to 100) that a packet meets each fault.
struct RandomFaultChances {
  double drop = 0;     // not sent at all
  double corrupt = 0;  // sent with a wrong checksum
  double late = 0;     // sent after the host's time-outs (FaultSwitches::lateMs later)
  double slow = 0;     // sent up to kMaxSlowMs later, within the host's time-outs
  double junk = 0;     // serial: up to kMaxJunkBytes junk bytes before the packet
  // Replies only (block sizes, data):
  double duplicate = 0;      // sent twice, the copy at once
  double duplicateLate = 0;  // sent twice, the copy FaultSwitches::lateMs later
  double overtake = 0;       // data: held until the host's repeat has been answered

  bool Repeats() const { return duplicate > 0 || duplicateLate > 0 || overtake > 0; }
  bool Any() const { return drop > 0 || corrupt > 0 || late > 0 || slow > 0 || junk > 0 || Repeats(); }
};

// "KIND:PERCENT" items separated by commas, KIND one of drop, corrupt, late,
// slow, junk, duplicate, duplicate-late, overtake, PERCENT a decimal number from 0 to 100
// ("drop:2.5,late:1"). Throws std::invalid_argument naming the bad item.
RandomFaultChances ParseRandomFaults(const std::string& text);

// What befalls one packet.
struct PacketFate {
  bool drop = false;
  bool corrupt = false;
  bool late = false;
  int slowMs = 0;     // extra delay, 0 when not slow
  int junkBytes = 0;  // serial only; 0 on USB
  bool duplicate = false;
  bool duplicateLate = false;
  bool overtake = false;
};

class FaultDice {
 public:
  static constexpr int kMaxSlowMs = 120;
  static constexpr int kMaxJunkBytes = 24;

  FaultDice(uint64_t seed, RandomFaultChances chances);

  // The fate of the next packet; junk only on a serial line. Every call
  // draws the same number of values, so a packet's fate depends only on the
  // seed and how many packets came before it (the repeating kinds draw only
  // when one has a chance, so that earlier seeds draw as before).
  PacketFate Next(bool serial);

 private:
  uint64_t NextValue();
  // True with the chance in percent.
  bool Hit(double percent);

  RandomFaultChances chances_;
  uint64_t state_;
};

}  // namespace tolv::sim
