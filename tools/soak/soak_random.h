// The soak's draws: splitmix64, so that a seed gives the same runs on every
// machine and every build.
#pragma once

#include <cstdint>
#include <vector>

namespace tolv::soak {

class SoakRandom {
 public:
  explicit SoakRandom(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A fraction in [0, 1).
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  // True with the chance in percent.
  bool Chance(double percent) { return Uniform() * 100.0 < percent; }
  // A whole number from low to high, both included (low <= high).
  int64_t Between(int64_t low, int64_t high) {
    return low + static_cast<int64_t>(Next() % static_cast<uint64_t>(high - low + 1));
  }
  // One of the items (not empty).
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[static_cast<size_t>(Next() % items.size())];
  }

 private:
  uint64_t state_;
};

}  // namespace tolv::soak
