#include "random_faults.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace tolv::sim {
namespace {

double ParsePercent(const std::string& item, const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno != 0 || !(value >= 0 && value <= 100))
    throw std::invalid_argument("--random-faults: \"" + item + "\" needs a percentage from 0 to 100");
  return value;
}

}  // namespace

RandomFaultChances ParseRandomFaults(const std::string& text) {
  RandomFaultChances chances;
  std::stringstream stream(text);
  for (std::string item; std::getline(stream, item, ',');) {
    const size_t colon = item.find(':');
    const std::string kind = item.substr(0, colon);
    const double percent =
        ParsePercent(item, colon == std::string::npos ? std::string() : item.substr(colon + 1));
    if (kind == "drop")
      chances.drop = percent;
    else if (kind == "corrupt")
      chances.corrupt = percent;
    else if (kind == "late")
      chances.late = percent;
    else if (kind == "slow")
      chances.slow = percent;
    else if (kind == "junk")
      chances.junk = percent;
    else if (kind == "duplicate")
      chances.duplicate = percent;
    else if (kind == "duplicate-late")
      chances.duplicateLate = percent;
    else if (kind == "overtake")
      chances.overtake = percent;
    else
      throw std::invalid_argument(
          "--random-faults: unknown fault \"" + kind +
          "\" (drop, corrupt, late, slow, junk, duplicate, duplicate-late or overtake)");
  }
  return chances;
}

FaultDice::FaultDice(uint64_t seed, RandomFaultChances chances) : chances_(chances), state_(seed) {}

uint64_t FaultDice::NextValue() {
  // splitmix64: every seed, 0 included, gives a well-mixed sequence.
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

bool FaultDice::Hit(double percent) {
  // 53 random bits as a fraction in [0, 1).
  const double fraction = static_cast<double>(NextValue() >> 11) * 0x1.0p-53;
  return fraction * 100.0 < percent;
}

PacketFate FaultDice::Next(bool serial) {
  PacketFate fate;
  fate.drop = Hit(chances_.drop);
  fate.corrupt = Hit(chances_.corrupt);
  fate.late = Hit(chances_.late);
  const bool slow = Hit(chances_.slow);
  const bool junk = Hit(chances_.junk);
  const uint64_t amounts = NextValue();
  if (slow) fate.slowMs = 1 + static_cast<int>(amounts % kMaxSlowMs);
  if (junk && serial) fate.junkBytes = 1 + static_cast<int>((amounts >> 32) % kMaxJunkBytes);
  if (chances_.Repeats()) {
    fate.duplicate = Hit(chances_.duplicate);
    fate.duplicateLate = Hit(chances_.duplicateLate);
    fate.overtake = Hit(chances_.overtake);
  }
  return fate;
}

}  // namespace tolv::sim
