// Which family of receivers a model belongs to, as far as its built-in model
// name tells: satellite, terrestrial or cable. The family decides the layout
// of a receiver's settings (flash/layout.h), so settings of one family are
// no use to a receiver of another.
#pragma once

#include <cstdint>

namespace tolv {

// The settings layout of the family of the model systemId (kLayoutDvbS,
// kLayoutDvbT or kLayoutDvbC) for the models whose built-in names tell it
// ("TF5800t" terrestrial, "TF5100c" cable, "TF5000" satellite); kLayoutNone
// for every other SystemID, the wildcard 39321 included.
uint8_t Model_LayoutFamily(uint16_t systemId);

}  // namespace tolv
