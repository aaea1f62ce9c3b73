#include "flash/layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace tolv {
namespace {

// Data bytes of sections 1..13 of each layout, as the receivers lay them out.
constexpr int32_t kDvbSData[] = {112000, 48000, 19380, 48004, 9420, 68, 8, 9520, 560, 65000, 5376, 32, 75796};
constexpr int32_t kDvbTData[] = {32000, 32000, 32, 4084, 9420, 68, 8, 9520, 560, 65000, 5376, -3, 235100};
constexpr int32_t kDvbCData[] = {32000, 32000, 32, 3064, 9420, 68, 8, 9240, 560, 65000, 5376, -3, 236400};

TEST(LayoutTables, DataLengthsAndContiguity) {
  const std::pair<uint8_t, const int32_t*> layouts[] = {
      {kLayoutDvbS, kDvbSData}, {kLayoutDvbT, kDvbTData}, {kLayoutDvbC, kDvbCData}};
  for (const auto& [variant, data] : layouts) {
    const SectionTable& table = Layout_Sections(variant);
    SCOPED_TRACE(Layout_Name(variant));
    EXPECT_EQ(table.start[1], 0u);
    EXPECT_EQ(table.end[13], 0x5FFFFu);
    for (int k = 1; k <= kSectionCount; ++k) {
      EXPECT_EQ(Section_DataLength(table, k), data[k - 1]) << "section " << k;
      if (k < kSectionCount) {
        // Each section ends right before the next; an empty one shares its offset.
        const bool empty = table.start[k] == table.end[k];
        EXPECT_EQ(empty ? table.end[k] : table.end[k] + 1, table.start[k + 1]) << "section " << k;
      }
    }
  }
}

TEST(LayoutTables, KnownOffsetsNamesAndOutOfRange) {
  EXPECT_EQ(Layout_Sections(kLayoutDvbS).start[5], 227400u);
  EXPECT_EQ(Layout_Sections(kLayoutDvbT).start[5], 68132u);
  EXPECT_EQ(Layout_Sections(kLayoutDvbC).start[5], 67112u);
  EXPECT_EQ(Layout_Sections(kLayoutDvbT).start[12], 0x269A0u);
  EXPECT_EQ(Layout_Sections(kLayoutDvbT).end[12], 0x269A0u);
  EXPECT_EQ(Layout_Sections(kLayoutDvbC).start[13], 0x2648Cu);
  EXPECT_STREQ(Layout_Name(kLayoutDvbS), "DVB-s");
  EXPECT_STREQ(Layout_Name(kLayoutDvbT), "DVB-t");
  EXPECT_STREQ(Layout_Name(kLayoutDvbC), "DVB-c");
  EXPECT_STREQ(Layout_Name(kLayoutNone), "");
  EXPECT_STREQ(Layout_Name(4), "");
  EXPECT_EQ(Layout_Sections(kLayoutNone), SectionTable{});
  EXPECT_EQ(Layout_Sections(200), SectionTable{});
  EXPECT_EQ(Section_DataLength(Layout_Sections(kLayoutDvbS), 0), 0);
  EXPECT_EQ(Section_DataLength(Layout_Sections(kLayoutDvbS), 14), 0);
  EXPECT_EQ(Section_DataLength(SectionTable{}, 1), -3);
}

// Writes a section header (CRC, FF FF, data word) at the probe offset of variant.
void PlantHeader(std::vector<uint8_t>& image, uint8_t variant, uint16_t firstDataWord = 0x1234) {
  const uint32_t at = Layout_Sections(variant).start[5];
  image[at] = 0x5A;
  image[at + 1] = 0xA5;
  image[at + 2] = 0xFF;
  image[at + 3] = 0xFF;
  image[at + 4] = static_cast<uint8_t>(firstDataWord >> 8);
  image[at + 5] = static_cast<uint8_t>(firstDataWord);
}

TEST(LayoutRecognition, EachLayoutAloneAndLastPassingWins) {
  for (uint8_t variant : {kLayoutDvbS, kLayoutDvbT, kLayoutDvbC}) {
    std::vector<uint8_t> image(0x80000, 0x00);
    PlantHeader(image, variant);
    EXPECT_EQ(Flash_RecogniseLayout(image.data(), image.size()), variant);
  }
  std::vector<uint8_t> both(0x80000, 0x00);
  PlantHeader(both, kLayoutDvbT);
  PlantHeader(both, kLayoutDvbC);
  EXPECT_EQ(Flash_RecogniseLayout(both.data(), both.size()), kLayoutDvbC);
  PlantHeader(both, kLayoutDvbS);
  EXPECT_EQ(Flash_RecogniseLayout(both.data(), both.size()), kLayoutDvbC);
}

TEST(LayoutRecognition, NoHeaderNoLayout) {
  const std::vector<uint8_t> erased(0x80000, 0xFF);  // W0 is FFFF
  const std::vector<uint8_t> zero(0x80000, 0x00);    // W1 is not FFFF
  EXPECT_EQ(Flash_RecogniseLayout(erased.data(), erased.size()), kLayoutNone);
  EXPECT_EQ(Flash_RecogniseLayout(zero.data(), zero.size()), kLayoutNone);

  // Each of the three words spoils the test on its own.
  std::vector<uint8_t> image(0x80000, 0x00);
  PlantHeader(image, kLayoutDvbS, 0xFFFF);  // data starts with FFFF
  EXPECT_EQ(Flash_RecogniseLayout(image.data(), image.size()), kLayoutNone);
  PlantHeader(image, kLayoutDvbS);
  image[227400] = image[227401] = 0xFF;  // CRC FFFF
  EXPECT_EQ(Flash_RecogniseLayout(image.data(), image.size()), kLayoutNone);
  PlantHeader(image, kLayoutDvbS);
  image[227403] = 0xFE;  // no marker
  EXPECT_EQ(Flash_RecogniseLayout(image.data(), image.size()), kLayoutNone);
}

TEST(LayoutRecognition, ShortImagesAreReadOnlyAsFarAsTheyGo) {
  std::vector<uint8_t> image(0x80000, 0x00);
  PlantHeader(image, kLayoutDvbS);
  PlantHeader(image, kLayoutDvbT);
  // Cut right after the DVB-t probe: DVB-s lies beyond the end.
  std::vector<uint8_t> cut(image.begin(), image.begin() + 68132 + 6);
  EXPECT_EQ(Flash_RecogniseLayout(cut.data(), cut.size()), kLayoutDvbT);
  cut.pop_back();
  EXPECT_EQ(Flash_RecogniseLayout(cut.data(), cut.size()), kLayoutNone);
  EXPECT_EQ(Flash_RecogniseLayout(nullptr, 0), kLayoutNone);
}

}  // namespace
}  // namespace tolv
