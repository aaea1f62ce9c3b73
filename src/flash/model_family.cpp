// The family of the models with a built-in name.
#include "flash/model_family.h"

#include <algorithm>
#include <iterator>

#include "flash/layout.h"

namespace tolv {
namespace {

// By the built-in model names: "t" models and the Procaster 5101T are
// terrestrial, "c" models and the Procaster 5101C cable; the satellite models
// are those whose names leave no doubt (the "F" and "FE" models and 1416,
// which has no name, are left out).
constexpr uint16_t kTerrestrial[] = {416, 456, 466, 1426, 1466, 10426, 30002};
constexpr uint16_t kCable[] = {1486, 10416, 10446, 12406};
constexpr uint16_t kSatellite[] = {406, 436, 446, 486, 501, 1456, 1501, 2416, 5501, 13406, 21031};

template <size_t N>
bool Among(const uint16_t (&ids)[N], uint16_t systemId) {
  return std::find(std::begin(ids), std::end(ids), systemId) != std::end(ids);
}

}  // namespace

uint8_t Model_LayoutFamily(uint16_t systemId) {
  if (Among(kTerrestrial, systemId)) return kLayoutDvbT;
  if (Among(kCable, systemId)) return kLayoutDvbC;
  if (Among(kSatellite, systemId)) return kLayoutDvbS;
  return kLayoutNone;
}

}  // namespace tolv
