// TFD chunks compressed by an independent LHA archiver (jlha, the Java
// implementation) must load like the library's own: the raw -lh5- stream of
// each archive member is wrapped as a TFD chunk.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "results/result_codes.h"
#include "test_support.h"
#include "tfd/tfd_store.h"
#include "tfd_test_util.h"

namespace tolv {
namespace {

uint32_t LE16(const std::vector<uint8_t>& b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t LE32(const std::vector<uint8_t>& b, size_t at) { return LE16(b, at) | LE16(b, at + 2) << 16; }

struct Member {
  std::string method;
  uint32_t originalSize;
  std::vector<uint8_t> stream;
};

// The members of an LHA archive with level-0 or level-2 headers.
std::vector<Member> ReadArchive(const std::vector<uint8_t>& archive) {
  std::vector<Member> members;
  size_t at = 0;
  while (at + 22 <= archive.size() && archive[at] != 0) {
    const uint8_t level = archive[at + 20];
    size_t headerSize;
    if (level == 2) {
      headerSize = LE16(archive, at);
    } else if (level == 0) {
      headerSize = archive[at] + 2u;
    } else {
      ADD_FAILURE() << "header level " << int{level} << " not handled";
      return members;
    }
    Member m;
    m.method.assign(archive.begin() + static_cast<std::ptrdiff_t>(at + 2),
                    archive.begin() + static_cast<std::ptrdiff_t>(at + 7));
    const uint32_t packedSize = LE32(archive, at + 7);
    m.originalSize = LE32(archive, at + 11);
    const size_t data = at + headerSize;
    if (data + packedSize > archive.size()) {
      ADD_FAILURE() << "member runs past the archive";
      return members;
    }
    m.stream.assign(archive.begin() + static_cast<std::ptrdiff_t>(data),
                    archive.begin() + static_cast<std::ptrdiff_t>(data + packedSize));
    members.push_back(std::move(m));
    at = data + packedSize;
  }
  return members;
}

TEST(TfdLha, ChunksCompressedByJlhaLoad) {
  if (test::RunCommand("command -v jlha >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "jlha (jlha-utils) is not installed";
  test::TempDir dir;
  // Distinct sizes tell the members apart; every input compresses.
  std::map<uint32_t, std::vector<uint8_t>> inputs = {
      {1000, test::Text(1000)},          {5000, test::MachineCode(5000)},
      {20000, test::Text(20000)},        {30000, std::vector<uint8_t>(30000, 0)},
      {32762, test::MachineCode(32762)},
  };
  std::string names;
  for (const auto& [size, bytes] : inputs) {
    const std::string name = "in" + std::to_string(size) + ".bin";
    test::WriteBytes(dir.File(name), bytes);
    names += " " + name;
  }
  std::string output;
  ASSERT_EQ(test::RunCommand("cd '" + dir.path() + "' && jlha ao5q t.lzh" + names + " 2>&1", &output), 0)
      << output;
  const std::vector<Member> members = ReadArchive(test::ReadBytes(dir.File("t.lzh")));
  ASSERT_EQ(members.size(), inputs.size());

  // Each member as the only chunk of its own type, and all of them in turn as
  // the chunks of type 1.
  std::vector<test::RawBlock> blocks;
  std::vector<uint8_t> joined;
  uint16_t type = 10;
  for (const Member& m : members) {
    ASSERT_EQ(m.method, "-lh5-");
    ASSERT_EQ(inputs.count(m.originalSize), 1u);
    ASSERT_NE(m.stream.size(), m.originalSize);  // not to be taken as a stored chunk
    blocks.push_back({type++, m.stream, static_cast<uint16_t>(m.originalSize)});
  }
  for (const Member& m : members) {
    blocks.push_back({1, m.stream, static_cast<uint16_t>(m.originalSize)});
    joined.insert(joined.end(), inputs[m.originalSize].begin(), inputs[m.originalSize].end());
  }
  const std::vector<uint8_t> file = test::RawTfd(406, blocks);

  auto store = std::make_unique<TfdStore>();
  ASSERT_EQ(TFD_LoadImage(*store, file.data(), file.size()), result::kOk);
  type = 10;
  for (const Member& m : members) {
    const tTFDBlock& slot = (*store)[type++];
    EXPECT_EQ(slot.data, inputs[m.originalSize]) << m.originalSize;
  }
  EXPECT_EQ((*store)[1].data, joined);
}

}  // namespace
}  // namespace tolv
