#include "codec/firmware_sections.h"

#include <gtest/gtest.h>

#include <vector>

#include "codec/block_codec.h"

namespace tolv {
namespace {

using Bytes = std::vector<uint8_t>;

// One section header: expanded length, stored length, end marker (all BE16).
void AppendHeader(Bytes& block, uint32_t length, uint32_t stored, uint32_t marker) {
  for (uint32_t field : {length, stored, marker}) {
    block.push_back(static_cast<uint8_t>(field >> 8));
    block.push_back(static_cast<uint8_t>(field));
  }
}

void AppendRaw(Bytes& block, const Bytes& data) {
  AppendHeader(block, static_cast<uint32_t>(data.size()), static_cast<uint32_t>(data.size()), 0);
  block.insert(block.end(), data.begin(), data.end());
}

void AppendCompressed(Bytes& block, const Bytes& data) {
  Bytes stream(static_cast<size_t>(Block_CompressBound(static_cast<int32_t>(data.size()))));
  const int32_t stored = Block_Compress(data.data(), static_cast<int32_t>(data.size()), stream.data());
  ASSERT_GT(stored, 0);
  ASSERT_NE(stored, static_cast<int32_t>(data.size()));  // else it would read as a raw section
  AppendHeader(block, static_cast<uint32_t>(data.size()), static_cast<uint32_t>(stored), 0);
  block.insert(block.end(), stream.begin(), stream.begin() + stored);
}

void AppendEnd(Bytes& block) { AppendHeader(block, 0, 0, 0xFFFF); }

TEST(FirmwareSections, ExpandsRawAndCompressedSectionsInOrder) {
  const Bytes first = {1, 2, 3, 4, 5};
  Bytes second(3000);
  for (size_t i = 0; i < second.size(); ++i) second[i] = static_cast<uint8_t>(i % 7);
  Bytes block;
  AppendRaw(block, first);
  AppendCompressed(block, second);
  AppendRaw(block, {});
  AppendEnd(block);
  block.push_back(0xAB);  // after the end marker: ignored

  Bytes expanded = {9, 9};
  const SectionsExpansion result =
      FirmwareSections_Expand(block.data(), static_cast<int32_t>(block.size()), 3005, &expanded);
  EXPECT_EQ(result.fault, SectionsFault::None);
  Bytes expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(expanded, expected);
}

TEST(FirmwareSections, FaultsNameTheSectionAndLeaveNoOutput) {
  struct Case {
    const char* name;
    Bytes block;
    int64_t limit;
    SectionsFault fault;
    int32_t position;
  };
  Bytes noEnd;
  AppendRaw(noEnd, {1, 2, 3});
  Bytes pastBlock;
  AppendRaw(pastBlock, {1, 2});
  AppendHeader(pastBlock, 4, 4, 0);
  pastBlock.insert(pastBlock.end(), {1, 2, 3});
  Bytes tooLarge;
  AppendRaw(tooLarge, {1, 2, 3});
  AppendRaw(tooLarge, {4, 5});
  AppendEnd(tooLarge);
  Bytes broken;
  AppendRaw(broken, {7});
  AppendHeader(broken, 4000, 16, 0);  // code tables that cannot be built
  broken.insert(broken.end(), 16, 0xFF);
  AppendEnd(broken);
  const Case cases[] = {
      {"empty block", {}, 100, SectionsFault::NoEndMarker, 0},
      {"short of a header", {0, 1, 0, 1, 0}, 100, SectionsFault::NoEndMarker, 0},
      {"no end marker", noEnd, 100, SectionsFault::NoEndMarker, 9},
      {"section past the block", pastBlock, 100, SectionsFault::PastBlock, 8},
      {"expansion past the limit", tooLarge, 4, SectionsFault::TooLarge, 9},
      {"stream that does not decode", broken, 5000, SectionsFault::NotDecodable, 7},
  };
  for (const Case& c : cases) {
    Bytes expanded = {9};
    const SectionsExpansion result =
        FirmwareSections_Expand(c.block.data(), static_cast<int32_t>(c.block.size()), c.limit, &expanded);
    EXPECT_EQ(result.fault, c.fault) << c.name;
    EXPECT_EQ(result.position, c.position) << c.name;
    EXPECT_TRUE(expanded.empty()) << c.name;
  }
}

}  // namespace
}  // namespace tolv
