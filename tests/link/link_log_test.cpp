// The transfer log and the raw dump: exact lines of whole sessions, file
// handling.

#include "link/link_log.h"

#include <gtest/gtest.h>

#include <memory>

#include "common/file_io.h"
#include "link_fixture.h"
#include "test_support.h"

namespace tolv {
namespace {

using Bytes = std::vector<uint8_t>;

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string Hex(const Bytes& bytes) {
  std::string text;
  char pair[4];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X ", b);
    text += pair;
  }
  return text;
}

const std::string kDashes(80, '-');

class LogTest : public test::LinkTest {
 protected:
  std::string LogName() const { return dir.File("TolvPack.log"); }
  std::string DumpName() const { return dir.File("CommDump.bin"); }
  test::TempDir dir;
};

TEST_F(LogTest, ExactLinesAndDumpOfASerialSession) {
  Make(false);
  receiver->replySequence = 0x10;
  receiver->info = Bytes(32, 0);
  receiver->blocks[3] = {0xDE, 0xAD, 0xBE, 0xEF};
  link->SetLogFile(LogName());
  ASSERT_EQ(link->Open("/dev/ttyFAKE", {}), 0);
  receiver->Announce(5);
  ASSERT_EQ(link->DownloadMode(), 0);
  Bytes buffer(16);
  int32_t size = 0;
  ASSERT_EQ(link->TransferBlock(3, buffer.data(), 16, &size), 0);
  ASSERT_EQ(link->End(), 0);
  link->Close();
  link->SetLogFile("");

  const Bytes announcement = [] {
    Bytes b = {0x54, 0x6F, 0x46, 0x69, 0x10, 0x01, 0x22, 0x01, 0x96};
    b.resize(b.size() + 32, 0x00);
    b.push_back(0xCA);
    return b;
  }();
  const Bytes cmd03 = {0x54, 0x6F, 0x46, 0x69, 0x10, 0x03, 0x00, 0x13};
  const Bytes cmd07 = {0x54, 0x6F, 0x46, 0x69, 0x11, 0x07, 0x01, 0x03, 0x1C};
  const Bytes sizeReply = {0x54, 0x6F, 0x46, 0x69, 0x10, 0x08, 0x03, 0x00, 0x00, 0x04, 0x1F};
  const Bytes cmd04 = {0x54, 0x6F, 0x46, 0x69, 0x12, 0x04, 0x04, 0x04, 0x00, 0x00, 0x00, 0x1E};
  const Bytes data = {0x54, 0x6F, 0x46, 0x69, 0x10, 0x05, 0x04, 0xDE, 0xAD, 0xBE, 0xEF, 0x51};
  const Bytes cmd06 = {0x54, 0x6F, 0x46, 0x69, 0x13, 0x06, 0x00, 0x19};
  EXPECT_EQ(test::ReadText(LogName()),
            Lines({"Log file opened   @ DATE TIME",
                   "Comm_Open         : called by main program: Device=/dev/ttyFAKE",
                   "Comm_DownloadMode : called by main program",
                   "WaitForCMD        : Received serial data: " + Hex(announcement),
                   "SendCMD03         : called by TolvWrap",
                   "SendPacket        : Sending serial data: " + Hex(cmd03),
                   "Comm_DownloadMode : reported SystemID=406",
                   "Comm_TransferBlock: called by main program: BlockType=3",
                   "SendCMD07         : called by TolvWrap",
                   "SendPacket        : Sending serial data: " + Hex(cmd07),
                   "WaitForCMD        : Received serial data: " + Hex(sizeReply),
                   "Comm_TransferBlock: the receiver numbers its block-size replies its own way.",
                   "Comm_Transferblock: Reported size of the block=4",
                   "SendCMD04         : called by TolvWrap: StartAddress=0000, NrOfBytes=4",
                   "SendPacket        : Sending serial data: " + Hex(cmd04),
                   "WaitForCMD        : Received serial data: " + Hex(data),
                   "Comm_TransferBlock: the receiver numbers its data replies its own way.",
                   "Comm_TransferBlock: transfer finished with 4 bytes",
                   "Comm_End          : called by main program",
                   "SendCMD06         : called by TolvWrap",
                   "SendPacket        : Sending serial data: " + Hex(cmd06),
                   "Comm_Close        : called by main program",
                   "Log file closed   @ DATE TIME",
                   kDashes}));
  Bytes dump;
  for (const Bytes* part : {&announcement, &cmd03, &cmd07, &sizeReply, &cmd04, &data, &cmd06})
    dump.insert(dump.end(), part->begin(), part->end());
  EXPECT_EQ(test::ReadBytes(DumpName()), dump);
}

TEST_F(LogTest, ExactLinesAndDumpOfAUsbSession) {
  Make(true);
  receiver->replySequence = 0x01;
  receiver->info = Bytes(32, 0);
  link->SetLogFile(LogName());
  line->Send({});  // an empty transfer before the reply
  ASSERT_EQ(link->Open("usb", {}), 0);
  ASSERT_EQ(link->DownloadMode(), 0);
  receiver->silent = true;
  EXPECT_EQ(link->End(), 0);
  EXPECT_EQ(link->UploadMode(), 2387);
  link->Cancel();
  link->Close();

  Bytes cmd03 = {0x54, 0x6F, 0x46, 0x69, 0x00, 0x03, 0x00, 0x00, 0x03};
  Bytes reply = {0x54, 0x6F, 0x46, 0x69, 0x01, 0x02, 0x00, 0x22, 0x01, 0x96};
  reply.resize(reply.size() + 32, 0x00);
  reply.push_back(0xBC);
  Bytes cmd06 = {0x54, 0x6F, 0x46, 0x69, 0x02, 0x06, 0x00, 0x00, 0x08};
  Bytes cmd01 = {0x54, 0x6F, 0x46, 0x69, 0x02, 0x01, 0x00, 0x00, 0x03};
  const auto padded = [](Bytes b) {
    b.resize(512, 0);
    return b;
  };
  EXPECT_EQ(test::ReadText(LogName()),
            Lines({"Log file opened   @ DATE TIME",
                   "Comm_Open         : called by main program: Device=usb",
                   "Comm_Open         : Topfield USB interface enumerated as fake USB",
                   "Comm_DownloadMode : called by main program",
                   "SendCMD03         : called by TolvWrap",
                   "SendPacket        : Sending USB data: " + Hex(cmd03),
                   "WaitForCMD        : No USB data received.",
                   "WaitForCMD        : Received USB data: " + Hex(padded(reply)),
                   "Comm_DownloadMode : reported SystemID=406",
                   "Comm_End          : called by main program",
                   "SendCMD06         : called by TolvWrap",
                   "SendPacket        : Sending USB data: " + Hex(cmd06),
                   "Comm_UploadMode   : called by main program",
                   "SendCMD02         : called by TolvWrap",
                   "SendPacket        : Sending USB data: " + Hex(cmd01),
                   "WaitForCMD        : ReadFile on USB interface timed out.",
                   "Comm_UploadMode   : exiting because CMD02 failed",
                   "Comm_Cancel       : called by main program",
                   "Comm_Cancel       : Called by main program",
                   "Comm_Close        : called by main program"}));
  // Writes go out padded to 512 bytes, reads are dumped as received.
  Bytes dump;
  for (const Bytes& part : {padded(cmd03), padded(reply), padded(cmd06), padded(cmd01)})
    dump.insert(dump.end(), part.begin(), part.end());
  EXPECT_EQ(test::ReadBytes(DumpName()), dump);
}

TEST_F(LogTest, StartingTwiceClosesTheFirstAndEmptiesTheDump) {
  test::WriteBytes(LogName(), {'o', 'l', 'd', '\r', '\n'});
  LinkLog log([] { return std::string("NOW"); });
  log.SetLogFile(LogName());
  log.Dump(reinterpret_cast<const uint8_t*>("abc"), 3);
  log.SetLogFile(LogName());
  EXPECT_EQ(test::SizeOf(DumpName()), 0u);
  log.Log("a line");
  log.SetLogFile("");
  log.SetLogFile("");  // stopping when off writes nothing
  log.Log("not written");
  EXPECT_EQ(test::ReadText(LogName()),
            Lines({"old", "Log file opened   @ NOW", "Log file closed   @ NOW", kDashes,
                   "Log file opened   @ NOW", "a line", "Log file closed   @ NOW", kDashes}));
}

// The files stay open between lines: what a line reports is readable by
// another program at once, the dump's bytes before it included, and a session
// that ends without its closing lines (a crash) has lost nothing logged.
TEST_F(LogTest, EachLineIsOnDiskWithTheDumpBeforeIt) {
  auto log = std::make_unique<LinkLog>([] { return std::string("NOW"); });
  log->SetLogFile(LogName());
  Bytes dump;
  for (int line = 0; line < 3; ++line) {
    for (uint8_t b = 0; b < 200; ++b) {  // a serial line: one append per byte
      log->Dump(&b, 1);
      dump.push_back(b);
    }
    log->Log("line " + std::to_string(line));
    EXPECT_EQ(test::ReadBytes(DumpName()), dump);
    EXPECT_EQ(test::ReadText(LogName()).substr(test::ReadText(LogName()).rfind("line")),
              "line " + std::to_string(line) + "\r\n");
  }
  const uint8_t tail[] = {0xAA, 0x55};
  log->Dump(tail, 2);
  log.reset();
  dump.insert(dump.end(), tail, tail + 2);
  EXPECT_EQ(test::ReadBytes(DumpName()), dump);
  EXPECT_EQ(test::ReadText(LogName()), Lines({"Log file opened   @ NOW", "line 0", "line 1", "line 2"}));
}

TEST_F(LogTest, BareNamePutsTheDumpInTheCurrentDirectory) {
  test::ScopedCurrentDir here(dir.path());
  LinkLog log;
  log.SetLogFile("TolvPack.log");
  EXPECT_EQ(log.dumpFileName(), "CommDump.bin");
  EXPECT_TRUE(test::Exists(dir.File("CommDump.bin")));
  EXPECT_TRUE(test::Exists(dir.File("TolvPack.log")));
  log.SetLogFile("");
  EXPECT_TRUE(log.dumpFileName().empty());
}

TEST_F(LogTest, UnwritableLogThrowsAndLeavesLoggingOff) {
  LinkLog log;
  EXPECT_THROW(log.SetLogFile(dir.File("missing/TolvPack.log")), FileError);
  EXPECT_FALSE(log.enabled());
  EXPECT_NO_THROW(log.Log("nothing"));
}

TEST(LinkLogText, StepLinesDumpsAndDate) {
  EXPECT_EQ(LinkLog_StepLine("Comm_End", "x"), "Comm_End          : x");
  EXPECT_EQ(LinkLog_StepLine("Comm_TransferBlock", "x"), "Comm_TransferBlock: x");
  EXPECT_EQ(LinkLog_HexDump(Bytes{0x00, 0x0A, 0xFF}.data(), 3), "00 0A FF ");
  EXPECT_EQ(LinkLog_HexDump(nullptr, 0), "");
  const std::string now = LinkLog_NowText();
  EXPECT_NE(now.find_first_of("0123456789"), std::string::npos) << now;
}

}  // namespace
}  // namespace tolv
