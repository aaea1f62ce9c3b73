#include "common/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace tolv {
namespace {

std::string HexOf(const std::string& message) {
  return Sha256_Hex(
      Sha256_Of(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(message.data()), message.size())));
}

// The examples of FIPS 180-4 (NIST's example values): one block, a message of
// 56 bytes whose length goes into a second block, one of 112 bytes, and a
// million bytes; and the empty message.
TEST(Sha256, GivesTheStandardsExampleDigests) {
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", HexOf("abc"));
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", HexOf(""));
  EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
            HexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
  EXPECT_EQ(
      "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1",
      HexOf("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
            "mnopqrstnopqrstu"));
  EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
            HexOf(std::string(1000000, 'a')));
}

// A message fed in pieces of any size, across every block boundary, gives the
// digest of the whole; Finish starts over.
TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
  const std::vector<uint8_t> message = test::RandomBytes(7, 1000);
  for (size_t length : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
    const std::span<const uint8_t> whole(message.data(), length);
    const Sha256Digest expected = Sha256_Of(whole);
    for (size_t piece : {1u, 3u, 63u, 64u, 65u, 200u}) {
      Sha256 sha;
      for (size_t at = 0; at < length; at += piece)
        sha.Update(whole.subspan(at, std::min(piece, length - at)));
      EXPECT_EQ(expected, sha.Finish()) << length << " in pieces of " << piece;
      sha.Update(whole);
      EXPECT_EQ(expected, sha.Finish()) << "after Finish the object starts over";
    }
  }
}

}  // namespace
}  // namespace tolv
