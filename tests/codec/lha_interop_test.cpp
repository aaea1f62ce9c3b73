// The codec against independent implementations of the same stream format:
// streams written here are extracted by lhasa, and streams written by jlha are
// read here. Both tools come from Debian packages (lhasa, jlha-utils); the
// tests skip when a tool is missing.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "codec/block_codec.h"
#include "codec/crc16.h"
#include "codec_test_data.h"
#include "lzh_archive.h"
#include "test_support.h"

namespace tolv {
namespace {

bool HaveTool(const std::string& name) { return test::RunCommand("command -v " + name + " >/dev/null") == 0; }

#define SKIP_WITHOUT_TOOL(tool, package) \
  if (!HaveTool(tool)) GTEST_SKIP() << tool " is not installed (Debian package " package ")"

uint16_t Crc(const std::vector<uint8_t>& bytes) {
  return static_cast<uint16_t>(CRC16_Calc(bytes.data(), static_cast<int32_t>(bytes.size())));
}

// The round-trip cases and prefixes of mixed data at every length class.
std::vector<test::NamedData> InteropCases() {
  std::vector<test::NamedData> cases = test::RoundTripCases();
  const std::vector<uint8_t> mixed = test::TextCodeSettings(11000, 4);
  for (size_t length : {2u, 3u, 255u, 256u, 257u, 4095u, 4096u, 4097u, 8191u, 8192u, 8193u, 16383u, 16384u,
                        16385u, 24576u, 32761u, 32762u}) {
    cases.push_back({"mixed " + std::to_string(length),
                     std::vector<uint8_t>(mixed.begin(), mixed.begin() + static_cast<ptrdiff_t>(length))});
  }
  return cases;
}

// The case's stream, or nothing when Block_Compress fell back to a copy.
std::optional<std::vector<uint8_t>> StreamOf(const std::vector<uint8_t>& source) {
  std::vector<uint8_t> stream = test::CompressBlock(source);
  if (test::IsPlainCopy(source, stream)) return std::nullopt;
  return stream;
}

std::string EntryName(size_t index) { return "case" + std::to_string(index) + ".bin"; }

// Writes an archive of the cases' streams and has lhasa extract it.
int ExtractWithLhasa(const test::TempDir& dir, const std::vector<test::LzhEntry>& entries, std::string* log) {
  test::WriteBytes(dir.File("streams.lzh"), test::BuildLzhArchive(entries));
  return test::RunCommand("cd '" + dir.path() + "' && lhasa xqf streams.lzh", log);
}

TEST(LhaInterop, LhasaExtractsStreamsFromBlockCompress) {
  SKIP_WITHOUT_TOOL("lhasa", "lhasa");
  const std::vector<test::NamedData> cases = InteropCases();
  std::vector<test::LzhEntry> entries;
  std::vector<size_t> caseOfEntry;
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::optional<std::vector<uint8_t>> stream = StreamOf(cases[i].bytes);
    if (!stream) continue;
    entries.push_back(
        {EntryName(i), "-lh5-", *stream, static_cast<uint32_t>(cases[i].bytes.size()), Crc(cases[i].bytes)});
    caseOfEntry.push_back(i);
  }
  ASSERT_GE(entries.size(), cases.size() - 1);  // only the random 32762 bytes fall back
  test::TempDir dir;
  std::string log;
  ASSERT_EQ(ExtractWithLhasa(dir, entries, &log), 0) << log;
  for (size_t e = 0; e < entries.size(); ++e) {
    const test::NamedData& c = cases[caseOfEntry[e]];
    ASSERT_TRUE(test::Exists(dir.File(entries[e].name))) << c.name << "\n" << log;
    EXPECT_EQ(test::ReadBytes(dir.File(entries[e].name)), c.bytes) << c.name;
  }
}

// The check above would notice a wrong stream: lhasa refuses one damaged bit.
TEST(LhaInterop, LhasaRejectsADamagedStream) {
  SKIP_WITHOUT_TOOL("lhasa", "lhasa");
  const std::vector<uint8_t> source = test::WordText(20000, 8);
  std::vector<uint8_t> stream = *StreamOf(source);
  stream[stream.size() / 2] ^= 0x10;
  test::TempDir dir;
  std::string log;
  const int status = ExtractWithLhasa(dir, {{"damaged.bin", "-lh5-", stream, 20000, Crc(source)}}, &log);
  const bool sameBytes =
      test::Exists(dir.File("damaged.bin")) && test::ReadBytes(dir.File("damaged.bin")) == source;
  EXPECT_TRUE(status != 0 || !sameBytes) << log;
}

TEST(LhaInterop, BlockDecompressRestoresStreamsMadeByJlha) {
  SKIP_WITHOUT_TOOL("jlha", "jlha-utils");
  const std::vector<test::NamedData> cases = InteropCases();
  test::TempDir dir;
  std::string names;
  for (size_t i = 0; i < cases.size(); ++i) {
    test::WriteBytes(dir.File(EntryName(i)), cases[i].bytes);
    names += " " + EntryName(i);
  }
  std::string log;
  ASSERT_EQ(test::RunCommand("cd '" + dir.path() + "' && jlha c0 made.lzh" + names, &log), 0) << log;
  const std::vector<test::LzhEntry> entries = test::ParseLzhArchive(test::ReadBytes(dir.File("made.lzh")));
  ASSERT_EQ(entries.size(), cases.size());
  size_t compressedEntries = 0;
  for (const test::LzhEntry& entry : entries) {
    const std::vector<uint8_t> original = test::ReadBytes(dir.File(entry.name));
    ASSERT_EQ(entry.originalSize, original.size()) << entry.name;
    if (entry.method != "-lh5-") continue;  // stored: too short or incompressible
    ++compressedEntries;
    std::vector<uint8_t> restored(original.size() + 16, 0xEE);
    EXPECT_EQ(Block_Decompress(entry.payload.data(), static_cast<int32_t>(entry.payload.size()),
                               restored.data(), static_cast<int32_t>(original.size())),
              1)
        << entry.name;
    EXPECT_EQ(std::vector<uint8_t>(restored.end() - 16, restored.end()), std::vector<uint8_t>(16, 0xEE));
    restored.resize(original.size());
    EXPECT_EQ(restored, original) << entry.name;
    EXPECT_EQ(Crc(restored), entry.originalCrc) << entry.name;
  }
  // Everything but the empty, one-, two- and three-byte and random cases.
  EXPECT_GE(compressedEntries, cases.size() - 5);
}

}  // namespace
}  // namespace tolv
