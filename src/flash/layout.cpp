#include "flash/layout.h"

#include "codec/crc16.h"

namespace tolv {
namespace {

// Builds a table from the 13 start offsets and the inclusive end of the last
// section; each section ends one byte before the next one starts, except that
// an empty section (start == next start) ends where it starts.
constexpr SectionTable MakeTable(const std::array<uint32_t, kSectionCount>& starts, uint32_t lastEnd) {
  SectionTable table{};
  for (int k = 1; k <= kSectionCount; ++k) {
    table.start[k] = starts[k - 1];
    if (k == kSectionCount) {
      table.end[k] = lastEnd;
    } else {
      const uint32_t next = starts[k];
      table.end[k] = next == starts[k - 1] ? next : next - 1;
    }
  }
  return table;
}

// Satellite receivers.
constexpr SectionTable kDvbSTable = MakeTable({0x00000, 0x1B584, 0x27108, 0x2BCC0, 0x37848, 0x39D18, 0x39D60,
                                               0x39D6C, 0x3C2A0, 0x3C4D4, 0x4C2C0, 0x4D7C4, 0x4D7E8},
                                              0x5FFFF);

// Terrestrial receivers: section 12 is empty and shares its offset with 13.
constexpr SectionTable kDvbTTable = MakeTable({0x00000, 0x07D04, 0x0FA08, 0x0FA2C, 0x10A24, 0x12EF4, 0x12F3C,
                                               0x12F48, 0x1547C, 0x156B0, 0x2549C, 0x269A0, 0x269A0},
                                              0x5FFFF);

// Cable receivers: section 12 is empty as well.
constexpr SectionTable kDvbCTable = MakeTable({0x00000, 0x07D04, 0x0FA08, 0x0FA2C, 0x10628, 0x12AF8, 0x12B40,
                                               0x12B4C, 0x14F68, 0x1519C, 0x24F88, 0x2648C, 0x2648C},
                                              0x5FFFF);

constexpr SectionTable kNoTable{};

constexpr int kProbeSection = 5;
constexpr size_t kProbeBytes = 6;

// A section header at the probe offset: CRC (anything but FFFF), the FF FF
// marker, and data whose first word is not FFFF.
bool HeaderAt(const uint8_t* flash, size_t flashSize, uint32_t offset) {
  if (offset > flashSize || flashSize - offset < kProbeBytes) return false;
  const uint32_t w0 = ReadBE16(flash + offset);
  const uint32_t w1 = ReadBE16(flash + offset + 2);
  const uint32_t w2 = ReadBE16(flash + offset + 4);
  return w0 != 0xFFFF && w1 == 0xFFFF && w2 != 0xFFFF;
}

}  // namespace

const SectionTable& Layout_Sections(uint8_t variant) {
  switch (variant) {
    case kLayoutDvbS: return kDvbSTable;
    case kLayoutDvbT: return kDvbTTable;
    case kLayoutDvbC: return kDvbCTable;
    default: return kNoTable;
  }
}

const char* Layout_Name(uint8_t variant) {
  switch (variant) {
    case kLayoutDvbS: return "DVB-s";
    case kLayoutDvbT: return "DVB-t";
    case kLayoutDvbC: return "DVB-c";
    default: return "";
  }
}

int32_t Section_DataLength(const SectionTable& table, int k) {
  if (k < 1 || k > kSectionCount) return 0;
  return static_cast<int32_t>(table.end[k] - table.start[k] - 3);
}

uint8_t Flash_RecogniseLayout(const uint8_t* flash, size_t flashSize) {
  uint8_t recognised = kLayoutNone;
  // Every test runs; when several pass, the last one stands.
  for (uint8_t variant : {kLayoutDvbS, kLayoutDvbT, kLayoutDvbC}) {
    if (HeaderAt(flash, flashSize, Layout_Sections(variant).start[kProbeSection])) recognised = variant;
  }
  return recognised;
}

}  // namespace tolv
