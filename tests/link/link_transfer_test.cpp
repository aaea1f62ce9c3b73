// Block transfers: request patterns, time-outs and recovery, limits, firmware
// sections, cancel, upload.

#include <gtest/gtest.h>

#include <algorithm>

#include "codec/block_codec.h"
#include "link_fixture.h"
#include "results/result_codes.h"
#include "test_support.h"

namespace tolv {
namespace {

using Bytes = std::vector<uint8_t>;

class TransferTest : public test::LinkTest {
 protected:
  // Downloads blockType into a buffer of capacity bytes followed by guard
  // bytes, which must stay untouched.
  int32_t Download(uint8_t blockType, int32_t capacity = 1 << 20) {
    buffer.assign(static_cast<size_t>(capacity) + kGuard, 0xCC);
    size = -1;
    const int32_t r = link->TransferBlock(blockType, buffer.data(), capacity, &size);
    EXPECT_TRUE(std::all_of(buffer.end() - kGuard, buffer.end(), [](uint8_t b) { return b == 0xCC; }))
        << "wrote past the buffer";
    return r;
  }
  Bytes Received() const { return Bytes(buffer.begin(), buffer.begin() + std::max(size, 0)); }
  std::string Log() const { return test::ReadText(dir.File("TolvPack.log")); }

  static constexpr int kGuard = 64;
  test::TempDir dir;
  Bytes buffer;
  int32_t size = 0;
};

TEST_F(TransferTest, RequestPatterns) {
  // The fake line takes no time, so every request of the block lies within
  // the reply window of those before it: no two ask for the same count until
  // the earlier one has left the window, and the counts fall from the chunk
  // size, one byte a chunk.
  const Bytes block = test::RandomBytes(1, 70000);
  for (const bool usb : {true, false}) {
    OpenInMode(usb, false);
    receiver->blocks[2] = block;
    std::vector<uint64_t> sent;
    receiver->onDataRequest = [&] { sent.push_back(clock.now); };
    ASSERT_EQ(Download(2), 0);
    EXPECT_EQ(size, 70000);
    EXPECT_EQ(Received(), block);
    const auto& requests = receiver->dataRequests;
    if (usb) {
      const std::vector<std::pair<uint32_t, int>> expected = {{0, 30000}, {30000, 29999}, {59999, 10001}};
      EXPECT_EQ(requests, expected);
      EXPECT_NEAR(statuses[2].second, 30000.0 / 70000 * 100, 1e-9);
    } else {
      EXPECT_EQ(requests[0], std::make_pair(0u, 255));
      EXPECT_EQ(requests[1], std::make_pair(255u, 254));
      EXPECT_EQ(line->purges, static_cast<int>(requests.size()));  // before every request
    }
    uint32_t offset = 0;
    for (size_t i = 0; i < requests.size(); ++i) {
      EXPECT_EQ(requests[i].first, offset) << i;
      offset += static_cast<uint32_t>(requests[i].second);
      for (size_t j = 0; j < i; ++j) {
        const bool live = sent[i] - sent[j] < (usb ? 1000u : 2000u);
        EXPECT_TRUE(!live || requests[i].second != requests[j].second) << i << " " << j;
      }
    }
    EXPECT_EQ(offset, 70000u);
    // Statuses: block started, one progress per chunk (and more while the
    // link waits for a count to leave the window), 100 at the end.
    EXPECT_EQ(statuses.front(), std::make_pair(uint8_t{5}, 2.0));
    EXPECT_GE(CountStatus(6), static_cast<int>(requests.size()) + 1);
    EXPECT_EQ(statuses.back(), std::make_pair(uint8_t{6}, 100.0));
  }
}

TEST_F(TransferTest, EmptyBlock) {
  OpenInMode(false, false);
  receiver->blocks[3] = {};
  ASSERT_EQ(Download(3), 0);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(receiver->dataRequests, (std::vector<std::pair<uint32_t, int>>{{0, 0}}));
  EXPECT_EQ(CountStatus(6), 2);
  EXPECT_EQ(statuses[1], std::make_pair(uint8_t{6}, 0.0));
}

TEST_F(TransferTest, SequenceNumberWraps) {
  Make(true);
  receiver->replySequence = 254;
  ASSERT_EQ(link->Open("USB", {}), 0);
  ASSERT_EQ(link->DownloadMode(), 0);
  receiver->blocks[3] = Bytes(256, 1);
  line->writes.clear();
  ASSERT_EQ(Download(3), 0);
  const auto written = Written();
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[0].command, 0x07);
  EXPECT_EQ(written[0].sequence, 255);
  EXPECT_EQ(written[1].command, 0x04);
  EXPECT_EQ(written[1].sequence, 0);
}

TEST_F(TransferTest, SilentSerialReceiverGivesUpAfterFiveTimeouts) {
  OpenInMode(false, false);
  link->SetLogFile(dir.File("TolvPack.log"));
  receiver->blocks[3] = Bytes(256, 1);
  receiver->silentData = true;
  EXPECT_EQ(Download(3), result::kTransferTimeout);
  EXPECT_EQ(size, 0);
  const std::string log = Log();
  size_t at = 0;
  for (int i = 1; i <= 5; ++i) {
    const std::string expected =
        "Comm_TransferBlock: WaitForCMD has reported timeout # " + std::to_string(i) + ".\r\n";
    const size_t found = log.find(expected, at);
    ASSERT_NE(found, std::string::npos) << i;
    at = found;
  }
  EXPECT_EQ(log.find("timeout # 6"), std::string::npos);
  EXPECT_NE(
      log.find("Comm_TransferBlock: exiting because WaitForCMD failed in the data transfer loop.\r\n", at),
      std::string::npos);
  // The first request and four repeats, each after emptying the queues.
  EXPECT_EQ(receiver->dataRequests.size(), 5u);
}

TEST_F(TransferTest, AFailedSerialPortFailsEveryLaterWaitAtOnce) {
  // The adapter is pulled out part-way through a block: that block ends as
  // with a silent receiver; later waits fail without waiting for replies that
  // cannot come (the size wait would take 5 s a block), until the next Open.
  OpenInMode(false, false);
  link->SetLogFile(dir.File("TolvPack.log"));
  receiver->blocks[0] = test::RandomBytes(9, 3000);
  receiver->blocks[3] = Bytes(256, 1);
  onStatus = [&](uint8_t status, double value) {
    if (status == 6 && value > 20) line->readFault = true;
  };
  EXPECT_EQ(Download(0), result::kTransferTimeout);
  // Were the failed port taken for a silent one, the mode wait would last
  // until the user cancels: cancel after many passes instead of hanging.
  onStatus = [&](uint8_t status, double) {
    if (status == 2 && CountStatus(2) == 100) link->Cancel();
  };
  const uint64_t before = clock.now;
  EXPECT_EQ(Download(3), result::kTransferTimeout);
  EXPECT_EQ(link->DownloadMode(), result::kDownloadModeTimeout);
  EXPECT_LT(clock.now - before, 1000u);
  const std::string log = Log();
  for (int i = 1; i <= 5; ++i)
    EXPECT_NE(log.find("timeout # " + std::to_string(i) + "."), std::string::npos) << i;
  EXPECT_NE(log.find("Comm_TransferBlock: exiting because WaitForCMD failed\r\n"), std::string::npos);
  EXPECT_NE(log.find("Comm_DownloadMode : WaitForCMD failed\r\n"), std::string::npos);
  const std::string faultLine = "WaitForCMD        : ReadFile on serial port failed.\r\n";
  const size_t fault = log.find(faultLine);
  ASSERT_NE(fault, std::string::npos);
  EXPECT_EQ(log.find(faultLine, fault + 1), std::string::npos) << "logged once";

  // A new Open starts afresh: the port (plugged in again) is read again.
  line->readFault = false;
  onStatus = nullptr;
  ASSERT_EQ(link->Open("/dev/ttyFAKE", Recorder()), 0);
  receiver->Announce(5);
  ASSERT_EQ(link->DownloadMode(), 0);
  ASSERT_EQ(Download(3), 0);
  EXPECT_EQ(Received(), Bytes(256, 1));

  // A write that fails counts as much as a read.
  line->writeFault = true;
  const uint64_t writeFailed = clock.now;
  EXPECT_EQ(Download(3), result::kTransferTimeout);
  // (Besides the wait for the window of the 07 before.)
  EXPECT_LT(clock.now - writeFailed, 1000u + 2000u);
}

TEST_F(TransferTest, SilentUsbReceiverIsBoundedToo) {
  OpenInMode(true, false);
  receiver->blocks[3] = Bytes(256, 1);
  receiver->silentData = true;
  EXPECT_EQ(Download(3), result::kTransferTimeout);
  EXPECT_EQ(receiver->dataRequests.size(), 5u);
}

TEST_F(TransferTest, LostAndCorruptedRepliesAreRecovered) {
  const Bytes block = test::RandomBytes(2, 5000);
  for (const bool usb : {true, false}) {
    OpenInMode(usb, false);
    receiver->blocks[0] = block;
    // Twelve faults in a row, only four of them silent: the receiver is
    // heard, so the thirteenth request of the chunk succeeds.
    receiver->dropDataReplies = 4;
    receiver->corruptDataReplies = 6;
    receiver->overlongDataReplies = 2;
    ASSERT_EQ(Download(0), 0) << usb;
    // A corrupted or overlong packet is never stored: the data are exact.
    EXPECT_EQ(Received(), block) << usb;
  }
}

TEST_F(TransferTest, LateRepliesAreToldApartByTheirLength) {
  // The first reply comes after the time-out, so the chunk is asked for again
  // with one byte less; the receiver numbers every reply alike, so only the
  // lengths tell the replies apart. The reply to the repeat comes while the
  // link waits for it before the next chunk, or only once the next chunk has
  // been asked for.
  const Bytes block = test::RandomBytes(11, 31000);
  for (const uint64_t repeatDelay : {500, 900}) {
    for (const bool usb : {true, false}) {
      OpenInMode(usb, false);
      link->SetLogFile(dir.File("TolvPack.log"));
      receiver->blocks[0] = block;
      receiver->dataReplyDelays = {400, repeatDelay};
      ASSERT_EQ(Download(0), 0) << usb << repeatDelay;
      EXPECT_EQ(Received(), block) << usb << repeatDelay;
      // The next chunk starts after the bytes every request asked for (the
      // last repeat's count), asking for a count neither live request has.
      const auto& requests = receiver->dataRequests;
      const auto next = std::find_if(requests.begin(), requests.end(), [](auto& r) { return r.first != 0; });
      ASSERT_NE(next, requests.end());
      const int stored = std::prev(next)->second;
      EXPECT_EQ(requests[1].second, requests[0].second - 1) << usb;
      const int natural = std::min(requests[0].second, 31000 - stored);
      EXPECT_EQ(*next, std::make_pair(static_cast<uint32_t>(stored), usb ? natural : stored - 1))
          << usb << repeatDelay;
      EXPECT_NE(Log().find("Comm_TransferBlock: late reply to a repeated request discarded."),
                std::string::npos)
          << usb << repeatDelay;
      link->SetLogFile("");
    }
  }
}

TEST_F(TransferTest, AStaleBlockSizeReplyOfAnEchoingReceiverIsNotTaken) {
  // A block-size reply so late that its block was given up, later even than
  // the quiet line before the next block: from a receiver that echoes, its
  // number tells it apart, and the next block gets its own size.
  OpenInMode(false, false);
  link->SetLogFile(dir.File("TolvPack.log"));
  receiver->echoSequence = true;
  receiver->blocks[3] = test::RandomBytes(12, 256);
  receiver->blocks[0] = test::RandomBytes(13, 4000);
  ASSERT_EQ(Download(3), 0);  // shows that the receiver echoes
  // Five 07s, each waited for 1 s and then for a quiet line of 1.5 s: the
  // block is given up after 12.5 s, and the quiet line before the next block
  // ends at 14 s.
  receiver->sizeReplyDelays = {16000};
  EXPECT_EQ(Download(0), result::kTransferTimeout);
  ASSERT_EQ(Download(3), 0);
  EXPECT_EQ(Received(), receiver->blocks[3]);
  EXPECT_NE(Log().find("Comm_TransferBlock: block-size reply numbered "), std::string::npos);
}

TEST_F(TransferTest, AfterAFailedBlockItsLateRepliesAreWaitedOut) {
  // The size reply comes after the size wait has given up; the receiver
  // numbers its replies its own way, so only waiting for a quiet line keeps
  // the next block from taking that size for its own.
  OpenInMode(false, false);
  receiver->blocks[0] = test::RandomBytes(13, 4000);
  receiver->blocks[3] = test::RandomBytes(12, 256);
  receiver->sizeReplyDelays = {13000};  // the block is given up after 12.5 s
  EXPECT_EQ(Download(0), result::kTransferTimeout);
  ASSERT_EQ(Download(3), 0);
  EXPECT_EQ(Received(), receiver->blocks[3]);
}

TEST_F(TransferTest, EndlessEmptyRepliesEnd) {
  OpenInMode(true, false);
  receiver->blocks[3] = {};
  receiver->sizeOverride = 256;  // claims 256 bytes, then serves none
  EXPECT_EQ(Download(3), result::kTransferTimeout);
  EXPECT_EQ(receiver->dataRequests.size(), 16u);  // as many as a chunk may take
}

TEST_F(TransferTest, BlockLargerThanTheBufferIsRefused) {
  OpenInMode(false, false);
  receiver->blocks[4] = Bytes(1000, 3);
  EXPECT_EQ(Download(4, 999), result::kTransferBlockTooLarge);
  EXPECT_TRUE(receiver->dataRequests.empty());
  EXPECT_EQ(size, 0);
  ASSERT_EQ(Download(4, 1000), 0);
  EXPECT_EQ(Received(), Bytes(1000, 3));
}

TEST_F(TransferTest, LostDamagedOrLateBlockSizeRepliesAreAskedForAgain) {
  // A 07 whose reply does not come within 1 s is sent again once the line is
  // quiet; a reply late enough to miss its own wait may still be taken. The
  // replies to repeats that come after the one taken are never taken for the
  // next block.
  struct Case {
    const char* name;
    int drop, corrupt;
    uint64_t delay;
    size_t selections;  // 07s sent for block 2
  };
  const Case cases[] = {
      {"one lost", 1, 0, 1, 2},
      {"four lost", 4, 0, 1, 5},
      {"one damaged", 0, 1, 1, 2},
      {"lost, then damaged", 1, 1, 1, 3},
      {"late, in the quiet", 0, 0, 1800, 1},
      {"later than the quiet", 0, 0, 3000, 2},
  };
  const Bytes block = test::RandomBytes(31, 5000);
  const Bytes eeprom = test::RandomBytes(32, 256);
  for (const bool usb : {true, false}) {
    for (const Case& c : cases) {
      OpenInMode(usb, false);
      receiver->blocks[2] = block;
      receiver->blocks[3] = eeprom;
      receiver->dropSizeReplies = c.drop;
      receiver->corruptSizeReplies = c.corrupt;
      receiver->sizeReplyDelays = {c.delay};
      ASSERT_EQ(Download(2), 0) << c.name << usb;
      EXPECT_EQ(Received(), block) << c.name << usb;
      const auto selections = std::count_if(receiver->received.begin(), receiver->received.end(),
                                            [](const test::WirePacket& p) { return p.command == 0x07; });
      EXPECT_EQ(static_cast<size_t>(selections), c.selections) << c.name << usb;
      ASSERT_EQ(Download(3), 0) << c.name << usb;
      EXPECT_EQ(Received(), eeprom) << c.name << usb;
    }
  }
  // Five lost: the block times out, each missing reply logged.
  OpenInMode(true, false);
  link->SetLogFile(dir.File("TolvPack.log"));
  receiver->blocks[2] = block;
  receiver->dropSizeReplies = 5;
  EXPECT_EQ(Download(2), result::kTransferTimeout);
  EXPECT_NE(Log().find("Comm_TransferBlock: no block-size reply to request # 5.\r\n"), std::string::npos);
  link->SetLogFile("");
}

TEST_F(TransferTest, SilentBlockSizeWaitIsBounded) {
  for (const bool usb : {true, false}) {
    OpenInMode(usb, false);
    receiver->silent = true;
    EXPECT_EQ(Download(4), result::kTransferTimeout) << usb;
  }
}

TEST_F(TransferTest, CancelMidBlock) {
  OpenInMode(false, false);
  link->SetLogFile(dir.File("TolvPack.log"));
  receiver->blocks[2] = test::RandomBytes(3, 3000);
  onStatus = [&](uint8_t status, double value) {
    if (status == 6 && value > 20) link->Cancel();
  };
  EXPECT_EQ(Download(2), result::kTransferCanceled);
  EXPECT_NE(Log().find("Comm_Transferblock: Exiting due to GlobalCancel\r\n"), std::string::npos);
  EXPECT_LT(receiver->dataRequests.size(), 12u);
  // Every later wait gives up at once, without sending a request.
  const size_t requests = receiver->dataRequests.size();
  EXPECT_EQ(Download(2), result::kTransferCanceled);
  EXPECT_EQ(receiver->dataRequests.size(), requests);
}

TEST_F(TransferTest, CancelDuringASilentChunk) {
  OpenInMode(true, false);
  receiver->blocks[2] = Bytes(100, 1);
  receiver->silentData = true;
  // A silent receiver still gives the window a callback to cancel in.
  onStatus = [&](uint8_t status, double) {
    if (status == 6 && CountStatus(6) == 2) link->Cancel();
  };
  EXPECT_EQ(Download(2), result::kTransferCanceled);
}

// --- Firmware sections -----------------------------------------------------------

Bytes Section(const Bytes& expanded, bool compress) {
  Bytes stored = expanded;
  if (compress) {
    stored.resize(static_cast<size_t>(Block_CompressBound(static_cast<int32_t>(expanded.size()))));
    stored.resize(static_cast<size_t>(
        Block_Compress(expanded.data(), static_cast<int32_t>(expanded.size()), stored.data())));
  }
  Bytes section = {static_cast<uint8_t>(expanded.size() >> 8),
                   static_cast<uint8_t>(expanded.size()),
                   static_cast<uint8_t>(stored.size() >> 8),
                   static_cast<uint8_t>(stored.size()),
                   0,
                   0};
  section.resize(6 + stored.size());
  std::copy(stored.begin(), stored.end(), section.begin() + 6);
  return section;
}

const Bytes kEndMarker = {0, 0, 0, 0, 0xFF, 0xFF};

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST_F(TransferTest, FirmwareSectionsAreExpanded) {
  const Bytes a = test::RandomBytes(4, 700);  // does not compress: stored
  const Bytes b = test::Text(20000);          // compresses
  const Bytes c = test::MachineCode(30000);
  Bytes bStored = Section(b, true);
  ASSERT_LT(bStored.size(), b.size() + 6);
  OpenInMode(true, false);
  receiver->blocks[1] = Concat({Section(a, false), bStored, Section(c, true), kEndMarker, {0x12, 0x34}});
  ASSERT_EQ(Download(1), 0);
  EXPECT_EQ(Received(), Concat({a, b, c}));

  // A series that starts with the end marker is an empty firmware.
  receiver->blocks[1] = kEndMarker;
  ASSERT_EQ(Download(1), 0);
  EXPECT_EQ(size, 0);
}

TEST_F(TransferTest, TransferSizeIsTheBlockOnTheWire) {
  // A display of bytes and rate needs the size behind status 6's percentage:
  // for the firmware that is the sections as sent, not the expanded image.
  const Bytes wire =
      Concat({Section(test::Text(50000), true), Section(test::RandomBytes(7, 900), false), kEndMarker});
  std::vector<std::pair<uint8_t, int32_t>> seen;
  for (const bool usb : {true, false}) {
    onStatus = nullptr;
    OpenInMode(usb, false);
    receiver->blocks[1] = wire;
    seen.clear();
    onStatus = [&](uint8_t status, double) { seen.emplace_back(status, link->transferSize()); };
    ASSERT_EQ(Download(1), 0) << usb;
    EXPECT_EQ(size, 50900) << usb;
    ASSERT_GE(seen.size(), 3u) << usb;
    EXPECT_EQ(seen.front(), std::make_pair(uint8_t{5}, 0)) << "not known before the size reply";
    for (size_t i = 1; i < seen.size(); ++i)
      EXPECT_EQ(seen[i], std::make_pair(uint8_t{6}, static_cast<int32_t>(wire.size()))) << usb << " " << i;
  }
  // An upload: the data offered.
  onStatus = nullptr;
  OpenInMode(true, true);
  receiver->uploadSize = 5000;
  receiver->uploadPiece = 1000;
  int32_t sizeSeen = -1;
  onStatus = [&](uint8_t status, double) {
    if (status == 6) sizeSeen = link->transferSize();
  };
  Bytes data = test::RandomBytes(8, 5000);
  int32_t dataSize = 5000;
  ASSERT_EQ(link->TransferBlock(2, data.data(), 5000, &dataSize), 0);
  EXPECT_EQ(sizeSeen, 5000);
}

TEST_F(TransferTest, MalformedFirmwareSectionsAreRefused) {
  const Bytes a = test::Text(4000);
  const Bytes good = Section(a, true);
  OpenInMode(true, false);
  // No end marker.
  receiver->blocks[1] = good;
  EXPECT_EQ(Download(1), result::kTransferBadBlockData);
  EXPECT_EQ(size, 0);
  // A section that runs past the block.
  receiver->blocks[1] = Concat({Bytes(good.begin(), good.end() - 1)});
  EXPECT_EQ(Download(1), result::kTransferBadBlockData);
  // A header cut short.
  receiver->blocks[1] = Concat({good, {0, 0, 0xFF}});
  EXPECT_EQ(Download(1), result::kTransferBadBlockData);
  // Expanded larger than the buffer.
  receiver->blocks[1] = Concat({good, good, kEndMarker});
  EXPECT_EQ(Download(1, 7999), result::kTransferBlockTooLarge);
  ASSERT_EQ(Download(1, 8000), 0);
  EXPECT_EQ(Received(), Concat({a, a}));
  // A compressed section whose code tables are broken.
  Bytes broken = {0x0F, 0xA0, 0x00, 0x10, 0x00, 0x00};
  broken.insert(broken.end(), 16, 0xFF);
  Bytes probe(4000);
  ASSERT_EQ(Block_Decompress(broken.data() + 6, 16, probe.data(), 4000), 0);
  receiver->blocks[1] = Concat({broken, kEndMarker});
  EXPECT_EQ(Download(1), result::kTransferBadBlockData);
}

// --- Upload -------------------------------------------------------------------

TEST_F(TransferTest, UploadServesEveryRequest) {
  const Bytes image = test::RandomBytes(5, 70000);
  for (const bool usb : {true, false}) {
    Make(usb);
    receiver->uploadSize = 70000;
    receiver->uploadPiece = usb ? 30000 : 255;
    ASSERT_EQ(link->Open(usb ? "USB" : "/dev/ttyFAKE", Recorder()), 0);
    if (!usb) receiver->Announce(5);
    ASSERT_EQ(link->UploadMode(), 0);
    Bytes data = image;
    int32_t dataSize = 70000;
    ASSERT_EQ(link->TransferBlock(2, data.data(), 70000, &dataSize), 0);
    EXPECT_EQ(dataSize, 70000);
    EXPECT_EQ(receiver->uploaded, image);
    EXPECT_EQ(link->channel().seqNo(), receiver->replySequence);  // taken from every request
    EXPECT_EQ(statuses.back(), std::make_pair(uint8_t{6}, 100.0));
  }
}

TEST_F(TransferTest, UploadServesZerosPastTheDataAndRefusesBeyondTheArea) {
  // A receiver may ask for fixed pieces that run past the end of the image:
  // they are served from the 8 MiB image area, zeros after the data.
  const Bytes image = test::RandomBytes(6, 1000);
  struct Case {
    bool usb;
    uint32_t offset, count;
    bool served;
  };
  for (const Case& c : {Case{false, 900, 101, true}, Case{false, 1001, 0, true}, Case{true, 0, 1001, true},
                        Case{true, kUploadAreaSize - 300, 300, true},
                        Case{true, kUploadAreaSize - 300, 301, false}, Case{true, 0xFFFFFF, 255, false}}) {
    Make(c.usb);
    receiver->uploadSize = 1000;
    receiver->extraUploadRequests = {{c.offset, c.count}};
    ASSERT_EQ(link->Open(c.usb ? "USB" : "/dev/ttyFAKE", Recorder()), 0);
    if (!c.usb) receiver->Announce(5);
    ASSERT_EQ(link->UploadMode(), 0);
    Bytes data = image;
    int32_t dataSize = 1000;
    EXPECT_EQ(link->TransferBlock(2, data.data(), 1000, &dataSize),
              c.served ? 0 : result::kTransferBadRequest)
        << c.offset << " " << c.count;
    if (!c.served) continue;
    // The answer to the extra request: the data it covers, then zeros.
    Bytes expected(c.count, 0);
    for (uint32_t i = c.offset; i < std::min<uint32_t>(c.offset + c.count, 1000); ++i)
      expected[i - c.offset] = image[i];
    ASSERT_GE(receiver->uploaded.size(), c.offset + c.count);
    EXPECT_EQ(Bytes(receiver->uploaded.begin() + c.offset, receiver->uploaded.begin() + c.offset + c.count),
              expected)
        << c.offset << " " << c.count;
  }
  // A request for more than one USB packet carries.
  Make(true);
  Bytes big = test::RandomBytes(7, 50000);
  receiver->uploadSize = 50000;
  receiver->extraUploadRequests = {{0, 39996}};
  ASSERT_EQ(link->Open("USB", {}), 0);
  ASSERT_EQ(link->UploadMode(), 0);
  int32_t bigSize = 50000;
  EXPECT_EQ(link->TransferBlock(2, big.data(), 50000, &bigSize), result::kTransferBadRequest);
  // The largest one is served.
  Make(true);
  receiver->uploadSize = 50000;
  receiver->extraUploadRequests = {{0, 39995}};
  ASSERT_EQ(link->Open("USB", {}), 0);
  ASSERT_EQ(link->UploadMode(), 0);
  EXPECT_EQ(link->TransferBlock(2, big.data(), 50000, &bigSize), 0);
  EXPECT_EQ(receiver->uploaded, big);
}

TEST_F(TransferTest, UploadWaitsAreBoundedAndCancellable) {
  Bytes data = test::RandomBytes(33, 600);
  for (const bool usb : {true, false}) {
    // Requests that come seconds late are waited for, on USB as on a serial line.
    OpenInMode(usb, true);
    line->incoming.clear();
    receiver->uploadSize = 600;
    receiver->uploadPiece = 200;
    receiver->replyDelayMs = 4000;
    line->Send(test::FramePacket(usb, 1, 0x04, usb ? Bytes{0, 200, 0, 0, 0} : Bytes{200, 0, 0, 0}), 4000);
    int32_t dataSize = 600;
    EXPECT_EQ(link->TransferBlock(2, data.data(), 600, &dataSize), 0) << usb;
    EXPECT_EQ(receiver->uploaded, data) << usb;
    // A receiver that stops asking is given up after 10 s of silence.
    OpenInMode(usb, true);
    line->incoming.clear();
    const uint64_t start = clock.now;
    EXPECT_EQ(link->TransferBlock(2, data.data(), 600, &dataSize), result::kTransferTimeout) << usb;
    EXPECT_GE(clock.now - start, 10000u) << usb;
    EXPECT_LT(clock.now - start, 11000u) << usb;
    // The callback is called meanwhile, and a cancel from it ends the wait at once.
    OpenInMode(usb, true);
    line->incoming.clear();
    onStatus = [&](uint8_t status, double) {
      if (status == 6 && CountStatus(6) == 3) link->Cancel();
    };
    EXPECT_EQ(link->TransferBlock(2, data.data(), 600, &dataSize), result::kTransferCanceled) << usb;
    onStatus = nullptr;
  }
  // Data larger than the buffer said to hold it is refused.
  OpenInMode(false, true);
  int32_t dataSize = 601;
  EXPECT_EQ(link->TransferBlock(2, data.data(), 600, &dataSize), result::kTransferBlockTooLarge);
}

}  // namespace
}  // namespace tolv
