// Images that look like a receiver's: settings in one of the three layouts
// with correct section checksums, compressible the way real settings are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "workspace/workspace.h"

namespace tolv::test {

// A 524,288-byte settings image of layout variant (1..3): mostly zero, with
// short pseudo-random records spread through every section, every section
// header (CRC, FF FF) correct; bytes from 0x60000 on hold a few records too.
std::vector<uint8_t> SettingsImage(uint8_t variant, uint32_t seed);

// A 256-byte EEPROM image with pseudo-random bytes and correct record CRCs.
std::vector<uint8_t> EepromImage(uint32_t seed);

// A workspace holding the Flash (recognised) and EEPROM of the given layout
// and SystemID.
Workspace SettingsWorkspace(uint8_t variant, int32_t systemId, uint32_t seed);

// First n bytes of image equal.
bool SamePrefix(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t n);

}  // namespace tolv::test
