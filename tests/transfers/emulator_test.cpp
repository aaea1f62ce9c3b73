// The receiver emulator on its own: its framing, its firmware sections, its
// intake of uploaded images and its emulated USB cable. The end-to-end tests
// rely on it behaving as a receiver does, so it is checked against the codec,
// the TFD builder and the packers directly.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <thread>
#include <utility>

#include "codec/block_codec.h"
#include "codec/crc16.h"
#include "common/file_io.h"
#include "flash/checksums.h"
#include "flash/layout.h"
#include "flash/model_header.h"
#include "flash/packed_block_check.h"
#include "flash/packing.h"
#include "pty_port.h"
#include "receiver.h"
#include "receiver_memory.h"
#include "sim_packets.h"
#include "test_support.h"
#include "tfd/tfd_store.h"
#include "usb_pipes.h"

namespace tolv::sim {
namespace {

using test::RandomBytes;
using test::Text;

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Expands firmware sections the way the host must, independently of the link.
std::vector<uint8_t> ExpandSections(const std::vector<uint8_t>& wire, int* compressedSections,
                                    int* rawSections) {
  std::vector<uint8_t> out;
  size_t at = 0;
  for (;;) {
    EXPECT_LE(at + 6, wire.size());
    if (at + 6 > wire.size()) return out;
    const size_t expanded = ReadBE16(&wire[at]);
    const size_t stored = ReadBE16(&wire[at + 2]);
    if (ReadBE16(&wire[at + 4]) == 0xFFFF) {
      EXPECT_EQ(at + 6, wire.size()) << "bytes after the end marker";
      return out;
    }
    const size_t start = out.size();
    out.resize(start + expanded);
    if (stored == expanded) {
      std::copy(wire.begin() + static_cast<ptrdiff_t>(at + 6),
                wire.begin() + static_cast<ptrdiff_t>(at + 6 + stored),
                out.begin() + static_cast<ptrdiff_t>(start));
      ++*rawSections;
    } else {
      EXPECT_EQ(1, Block_Decompress(&wire[at + 6], static_cast<int32_t>(stored), &out[start],
                                    static_cast<int32_t>(expanded)));
      ++*compressedSections;
    }
    at += 6 + stored;
  }
}

TEST(EmulatorFraming, SerialPacketsSurviveJunkSplitsAndDamage) {
  const auto first = EncodeSerialPacket(7, 0x04, std::vector<uint8_t>{1, 2, 3, 4});
  auto damaged = EncodeSerialPacket(8, 0x05, std::vector<uint8_t>{9, 9});
  damaged.back() ^= 1;
  const auto second = EncodeSerialPacket(9, 0x06, {});
  const auto stream = Concat({{0x00, 'T', 'o', 0x0D}, first, damaged, second});
  SerialPacketParser parser;
  std::vector<SimPacket> packets;
  for (size_t i = 0; i < stream.size(); i += 3) {  // arriving in pieces
    parser.Feed(std::span(stream).subspan(i, std::min<size_t>(3, stream.size() - i)));
    while (auto packet = parser.Next()) packets.push_back(*packet);
  }
  ASSERT_EQ(2u, packets.size());
  EXPECT_EQ(0x04, packets[0].command);
  EXPECT_EQ(7, packets[0].sequence);
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4}), packets[0].payload);
  EXPECT_EQ(0x06, packets[1].command);
  EXPECT_EQ(1, parser.rejectedCount());
}

TEST(EmulatorFraming, SerialParserNeverHoardsBytesWithoutMagic) {
  SerialPacketParser parser;
  const auto noise = std::vector<uint8_t>(100000, 'x');
  parser.Feed(noise);
  EXPECT_FALSE(parser.Next());
  EXPECT_LE(parser.buffered(), 3u);
  // A magic split over two feeds is still found.
  const auto packet = EncodeSerialPacket(1, 0x0B, {});
  parser.Feed(std::span(packet).first(2));
  EXPECT_FALSE(parser.Next());
  parser.Feed(std::span(packet).subspan(2));
  ASSERT_TRUE(parser.Next());
}

TEST(EmulatorFraming, UsbPacketsKnownAnswerAndPadding) {
  const auto packet = EncodeUsbPacket(0x10, 0x03, {});
  EXPECT_EQ((std::vector<uint8_t>{0x54, 0x6F, 0x46, 0x69, 0x10, 0x03, 0x00, 0x00, 0x13}), packet);
  EXPECT_EQ(512u, UsbPaddedSize(9));
  EXPECT_EQ(512u, UsbPaddedSize(512));
  EXPECT_EQ(1024u, UsbPaddedSize(513));
  EXPECT_EQ(30208u, UsbPaddedSize(30009));  // the largest download reply fills one 30208-byte read

  std::vector<uint8_t> transfer(512, 0xEE);
  const auto data = EncodeUsbPacket(3, 0x05, RandomBytes(1, 503));
  ASSERT_EQ(512u, data.size());
  std::copy(data.begin(), data.end(), transfer.begin());
  auto parsed = ParseUsbTransfer(transfer);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(RandomBytes(1, 503), parsed->payload);
  transfer[511] ^= 0xFF;  // the checksum
  EXPECT_FALSE(ParseUsbTransfer(transfer));
  EXPECT_FALSE(ParseUsbTransfer(std::span(data).first(100)));  // shorter than its length field says
}

TEST(EmulatorMemory, FirmwareSectionsExpandToTheFirmware) {
  // Text compresses, noise does not: both kinds of section must appear.
  const auto firmware = Concat({Text(100000), RandomBytes(2, 70000), Text(5)});
  const auto wire = EncodeFirmwareSections(firmware, kSimFirmwareSectionSize);
  int compressed = 0, raw = 0;
  EXPECT_EQ(firmware, ExpandSections(wire, &compressed, &raw));
  EXPECT_GT(compressed, 0);
  EXPECT_GT(raw, 0);
  EXPECT_LT(wire.size(), firmware.size());

  const auto empty = EncodeFirmwareSections({}, kSimFirmwareSectionSize);
  EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 0, 0xFF, 0xFF}), empty);
}

// The built-in memory is what a real receiver holds: every checksum right,
// the layout of the model's family, its own model header for a model
// without a built-in template, and a firmware with structure.
TEST(EmulatorMemory, BuiltinMemoryIsShapedLikeAReceivers) {
  const std::pair<uint16_t, uint8_t> models[] = {
      {406, kLayoutDvbS}, {456, kLayoutDvbT}, {10446, kLayoutDvbC}};
  for (const auto& [systemId, layout] : models) {
    SCOPED_TRACE(systemId);
    const ReceiverMemory memory = ReceiverMemory::Builtin(systemId);
    EXPECT_EQ(memory, ReceiverMemory::Builtin(systemId));
    // The model's template, or a header made for a model without one.
    std::vector<uint8_t> header(kSimPackedSize);
    int32_t length = 0;
    bool littleEndian = false;
    Flash_WriteModelHeader(systemId, header.data(), length, littleEndian);
    header.resize(static_cast<size_t>(length));
    if (length == 0) header = ModelHeader_Make(systemId, false).bytes;
    for (const std::vector<uint8_t>* packed : {&memory.packedFlash, &memory.packedDefaults}) {
      ASSERT_EQ(kSimPackedSize, packed->size());
      EXPECT_TRUE(PackedBlock_Check(packed->data(), packed->size()).Ok());
      EXPECT_TRUE(std::equal(header.begin(), header.end(), packed->begin()));
      std::vector<uint8_t> settings(kSimSettingsSize);
      ASSERT_TRUE(UnPackFlashData(packed->data(), packed->size(), settings.data(), settings.size()));
      ASSERT_EQ(layout, Flash_RecogniseLayout(settings.data(), settings.size()));
      for (const ChecksumCheck& check :
           Flash_CheckSectionChecksums(settings.data(), settings.size(), Layout_Sections(layout)))
        EXPECT_TRUE(check.Ok()) << "section " << check.number;
    }
    std::vector<uint8_t> defaultEeprom(kSimEepromSize);
    ASSERT_TRUE(UnPackDefaultsEeprom(memory.packedDefaults.data(), kSimPackedSize, defaultEeprom.data()));
    for (const std::vector<uint8_t>* eeprom : {&memory.eeprom, &std::as_const(defaultEeprom)})
      for (const ChecksumCheck& check : Eeprom_CheckChecksums(eeprom->data(), eeprom->size()))
        EXPECT_TRUE(check.Ok()) << "EEPROM record " << check.number;
  }
  // Code and messages compress, as a firmware does, but not to nothing.
  const ReceiverMemory memory = ReceiverMemory::Builtin(406);
  const size_t wire = EncodeFirmwareSections(memory.firmware, kSimFirmwareSectionSize).size();
  EXPECT_LT(wire, memory.firmware.size() * 3 / 4);
  EXPECT_GT(wire, memory.firmware.size() / 5);
}

// An image as the program builds it, of every component of a workspace.
struct UploadCase {
  ReceiverMemory expected;
  std::vector<uint8_t> image;
};

UploadCase MakeUpload(uint16_t imageSystemId, uint16_t packSystemId) {
  UploadCase c;
  c.expected = ReceiverMemory::Builtin(packSystemId);
  c.expected.loader = RandomBytes(10, kSimLoaderSize);
  c.expected.firmware = Concat({Text(200000), RandomBytes(11, 40000)});
  c.expected.eeprom = RandomBytes(12, kSimEepromSize);
  c.expected.background = RandomBytes(13, kSimBackgroundSize);
  std::vector<uint8_t> settings = Text(kSimSettingsSize);
  c.expected.packedFlash.assign(kSimPackedSize, 0);
  EXPECT_TRUE(PackFlashData(packSystemId, settings.data(), c.expected.packedFlash.data()));
  TfdStore store;
  TFD_SetBlock(store, 0, c.expected.loader.data(), c.expected.loader.size());
  TFD_SetBlock(store, 1, c.expected.firmware.data(), c.expected.firmware.size());
  TFD_SetBlock(store, 2, c.expected.packedFlash.data(), c.expected.packedFlash.size());
  TFD_SetBlock(store, 3, c.expected.eeprom.data(), c.expected.eeprom.size());
  TFD_SetBlock(store, 4, c.expected.packedDefaults.data(), c.expected.packedDefaults.size());
  TFD_SetBlock(store, 5, c.expected.background.data(), c.expected.background.size());
  EXPECT_EQ(0, TFD_BuildImage(store, imageSystemId, c.image));
  return c;
}

TEST(EmulatorMemory, TakesAWholeUploadedImage) {
  const UploadCase upload = MakeUpload(406, 406);
  ReceiverMemory memory = ReceiverMemory::Builtin(406);
  const TfdIntake intake = Memory_TakeTfdImage(memory, upload.image, true);
  EXPECT_TRUE(intake.accepted) << intake.verdict;
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5}), intake.blockTypesTaken);
  EXPECT_EQ(upload.expected, memory);
}

TEST(EmulatorMemory, RefusesDamagedOrForeignImagesAndChangesNothing) {
  const UploadCase upload = MakeUpload(406, 406);
  const ReceiverMemory before = ReceiverMemory::Builtin(406);
  const auto refused = [&](std::vector<uint8_t> image, bool ownOnly) {
    ReceiverMemory memory = before;
    const TfdIntake intake = Memory_TakeTfdImage(memory, image, ownOnly);
    if (!intake.accepted) {
      EXPECT_EQ(before, memory) << intake.verdict;
    }
    return !intake.accepted;
  };
  auto image = upload.image;
  image[200] ^= 1;  // inside the first block: its CRC fails
  EXPECT_TRUE(refused(image, true));
  image = upload.image;
  image[3] ^= 1;  // header CRC
  EXPECT_TRUE(refused(image, true));
  EXPECT_TRUE(refused(std::vector<uint8_t>(upload.image.begin(), upload.image.end() - 1), true));
  EXPECT_TRUE(refused(MakeUpload(1416, 406).image, true));    // made for another model
  EXPECT_FALSE(refused(MakeUpload(1416, 406).image, false));  // ... unless any model is welcome
  ReceiverMemory memory = before;
  EXPECT_TRUE(Memory_TakeTfdImage(memory, MakeUpload(kWildcardSystemId, 406).image, true).accepted);

  // A loader of the wrong size spoils the whole image, not just itself.
  TfdStore store;
  const auto shortLoader = RandomBytes(3, 1000);
  const auto eeprom = RandomBytes(4, 256);
  TFD_SetBlock(store, 0, shortLoader.data(), shortLoader.size());
  TFD_SetBlock(store, 3, eeprom.data(), eeprom.size());
  std::vector<uint8_t> mixed;
  ASSERT_EQ(0, TFD_BuildImage(store, 406, mixed));
  EXPECT_TRUE(refused(mixed, true));
}

TEST(EmulatorMemory, SeedsAndDumpsRoundTrip) {
  test::TempDir dir;
  const ReceiverMemory original = MakeUpload(406, 406).expected;
  Memory_Dump(original, dir.path());
  const auto sysid = test::ReadBytes(dir.File("sysid.txt"));
  EXPECT_EQ("406\n", std::string(sysid.begin(), sysid.end()));
  ReceiverMemory seeded = ReceiverMemory::Builtin(406);
  Memory_LoadDirectory(seeded, dir.path());
  EXPECT_EQ(original, seeded);

  // Unpacked settings are packed for the receiver's model on seeding.
  const auto settings = Text(kSimSettingsSize);
  test::WriteBytes(dir.File("flash.bin"), settings);
  std::filesystem::remove(dir.File("flash.dmp"));
  Memory_LoadDirectory(seeded, dir.path());
  std::vector<uint8_t> expected(kSimPackedSize);
  ASSERT_TRUE(PackFlashData(406, settings.data(), expected.data()));
  EXPECT_EQ(expected, seeded.packedFlash);

  // A seed of the wrong size changes nothing, not even the seeds before it.
  test::WriteBytes(dir.File("eeprom.bin"), RandomBytes(5, 255));
  test::WriteBytes(dir.File("loader.bin"), RandomBytes(6, kSimLoaderSize));
  const ReceiverMemory before = seeded;
  EXPECT_THROW(Memory_LoadDirectory(seeded, dir.path()), SeedError);
  EXPECT_EQ(before, seeded);
}

TEST(EmulatedUsb, PipesCarryOneTransferPerReadAndTimeOut) {
  EmulatedUsbPort port;
  std::string diagnostic = "x";
  auto host = port.Provider()(&diagnostic);
  ASSERT_TRUE(host);
  EXPECT_TRUE(diagnostic.empty());

  // Host to receiver: the packet at the start of a padded transfer.
  std::vector<uint8_t> transfer(512, 0);
  const auto request = EncodeUsbPacket(1, 0x03, {});
  std::copy(request.begin(), request.end(), transfer.begin());
  EXPECT_EQ(IoResult::Status::Ok, host->Write(transfer.data(), 512, 100).status);
  std::stop_source stop;
  auto received = port.Receive(SimClock::now() + std::chrono::seconds(1), stop.get_token());
  ASSERT_TRUE(received);
  EXPECT_EQ(0x03, received->command);

  // Receiver to host: two replies stay two reads, each padded to 512.
  port.Send(EncodeUsbPacket(1, 0x02, RandomBytes(7, 34)), stop.get_token());
  port.Send(EncodeUsbPacket(2, 0x05, RandomBytes(8, 600)), stop.get_token());
  std::vector<uint8_t> buffer(30208);
  EXPECT_EQ(512, host->Read(buffer.data(), 30208, 100).byteCount);
  EXPECT_EQ(0x02, buffer[5]);
  EXPECT_EQ(1024, host->Read(buffer.data(), 30208, 100).byteCount);
  EXPECT_EQ(IoResult::Status::Timeout, host->Read(buffer.data(), 30208, 20).status);
  port.Send(EncodeUsbPacket(3, 0x05, RandomBytes(9, 600)), stop.get_token());
  EXPECT_EQ(IoResult::Status::Fault, host->Read(buffer.data(), 512, 100).status);  // overflow
}

TEST(EmulatedUsb, RebootTakesTheDeviceOffTheBus) {
  EmulatedUsbPort port;
  std::string diagnostic;
  auto before = port.Provider()(&diagnostic);
  ASSERT_TRUE(before);
  port.BeginReboot();
  EXPECT_FALSE(port.Provider()(&diagnostic));
  uint8_t byte = 0;
  EXPECT_EQ(IoResult::Status::Fault, before->Read(&byte, 1, 1000).status);  // at once, not after 1 s
  port.EndReboot();
  EXPECT_EQ(IoResult::Status::Fault, before->Write(&byte, 1, 100).status);  // the old handle stays dead
  auto after = port.Provider()(&diagnostic);
  ASSERT_TRUE(after);
  EXPECT_EQ(IoResult::Status::Ok, after->Write(&byte, 1, 100).status);
  port.Disconnect();
  EXPECT_FALSE(port.Provider()(&diagnostic));
}

// Sends one request over the emulated cable and returns the reply's command
// (0 when none came within waitMs).
uint8_t Ask(Transport& host, uint8_t command, int waitMs) {
  std::vector<uint8_t> transfer(512, 0);
  const auto packet = EncodeUsbPacket(9, command, {});
  std::copy(packet.begin(), packet.end(), transfer.begin());
  if (host.Write(transfer.data(), 512, 100).status != IoResult::Status::Ok) return 0;
  std::vector<uint8_t> reply(30208);
  const IoResult read = host.Read(reply.data(), 30208, waitMs);
  return read.status == IoResult::Status::Ok && read.byteCount >= 9 ? reply[5] : 0;
}

std::unique_ptr<Transport> WaitForDevice(const EmulatedUsbPort& port) {
  std::string diagnostic;
  for (int i = 0; i < 200; ++i) {
    if (auto host = port.Provider()(&diagnostic)) return host;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return nullptr;
}

TEST(EmulatedReceiver, TheLoaderWaitsOnlyAShortTimeForTheModeRequest) {
  ReceiverOptions options;
  options.timing.bootMs = 20;
  options.timing.modeWaitMs = 200;
  auto port = std::make_unique<EmulatedUsbPort>();
  EmulatedUsbPort& usb = *port;
  SimulatedReceiver sim(std::move(port), ReceiverMemory::Builtin(406), options);
  auto host = WaitForDevice(usb);
  ASSERT_TRUE(host);
  EXPECT_EQ(0, Ask(*host, 0x03, 200));  // running normally: no mode reply
  Ask(*host, 0x0B, 0);                  // reboot: the device leaves the bus
  ASSERT_TRUE(sim.receiver().WaitForEvent("reboot", 1000));
  host = WaitForDevice(usb);
  ASSERT_TRUE(host);
  ASSERT_TRUE(sim.receiver().WaitForEvent("no mode request; booting normally", 2000));
  EXPECT_EQ(0, Ask(*host, 0x03, 200));  // too late: it booted normally
  Ask(*host, 0x0B, 0);
  for (int i = 0; i < 100 && sim.receiver().Stats().reboots < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  host = WaitForDevice(usb);
  ASSERT_TRUE(host);
  EXPECT_EQ(0x02, Ask(*host, 0x03, 500));  // in time: the loader answers
  EXPECT_EQ(2, sim.receiver().Stats().reboots);
}

TEST(EmulatedReceiver, ASerialLoaderClearsItsThroatThenAnnouncesItself) {
  ReceiverOptions options;
  options.startInLoader = true;
  auto port = std::make_unique<PtyReceiverPort>(0);
  const std::string path = port->SlavePath();
  const int line = open(path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(line, 0);
  SimulatedReceiver sim(std::move(port), ReceiverMemory::Builtin(1416), options);
  std::vector<uint8_t> received;
  SerialPacketParser parser;
  std::vector<SimPacket> packets;
  for (int i = 0; i < 100 && packets.size() < 2; ++i) {
    pollfd p{line, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    uint8_t buffer[512];
    const ssize_t n = read(line, buffer, sizeof buffer);
    if (n <= 0) continue;
    received.insert(received.end(), buffer, buffer + n);
    parser.Feed(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
    while (auto packet = parser.Next()) packets.push_back(*packet);
  }
  close(line);
  ASSERT_EQ(2u, packets.size());
  EXPECT_NE('T', received[0]);  // junk first
  EXPECT_EQ(0xFF, packets[0].command);
  EXPECT_EQ(0x01, packets[1].command);
  ASSERT_EQ(34u, packets[1].payload.size());
  EXPECT_EQ(1416, ReadBE16(packets[1].payload.data()));
}

// Sends a request numbered `sequence` over the emulated cable.
void Request(Transport& host, uint8_t sequence, uint8_t command, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> transfer = EncodeUsbPacket(sequence, command, payload);
  transfer.resize(512);
  EXPECT_EQ(IoResult::Status::Ok, host.Write(transfer.data(), 512, 100).status);
}

// The sequence byte of the next reply; -1 when none came within a second.
int ReplySequence(Transport& host) {
  std::vector<uint8_t> reply(30208);
  const IoResult read = host.Read(reply.data(), 30208, 1000);
  return read.status == IoResult::Status::Ok && read.byteCount >= 9 ? reply[4] : -1;
}

TEST(EmulatedReceiver, NumbersItsRepliesAsTold) {
  // Mode request 7, block request 8, data request 9 answered at once; data
  // request 20 answered late, and asked again as 21 meanwhile. The own
  // counter goes two up per reply.
  using enum ReplyNumbering;
  for (const auto& [numbering, expected] :
       std::vector<std::pair<ReplyNumbering, std::vector<int>>>{{Echo, {7, 8, 9, 20, 21}},
                                                                {Newest, {7, 8, 9, 21, 21}},
                                                                {None, {0, 0, 0, 0, 0}},
                                                                {Own, {2, 4, 6, 8, 10}}}) {
    ReceiverOptions options;
    options.startInLoader = true;
    options.faults.numbering = numbering;
    options.faults.lateEveryNthData = 2;
    options.faults.lateMs = 150;
    auto port = std::make_unique<EmulatedUsbPort>();
    EmulatedUsbPort& usb = *port;
    SimulatedReceiver sim(std::move(port), ReceiverMemory::Builtin(406), options);
    auto host = WaitForDevice(usb);
    ASSERT_TRUE(host);
    std::vector<int> seen;
    Request(*host, 7, 0x03, {});
    seen.push_back(ReplySequence(*host));
    Request(*host, 8, 0x07, {3});
    seen.push_back(ReplySequence(*host));
    Request(*host, 9, 0x04, {0, 16, 0, 0, 0});
    seen.push_back(ReplySequence(*host));
    Request(*host, 20, 0x04, {0, 16, 0, 0, 16});
    Request(*host, 21, 0x04, {0, 16, 0, 0, 16});
    seen.push_back(ReplySequence(*host));
    seen.push_back(ReplySequence(*host));
    EXPECT_EQ(expected, seen) << static_cast<int>(numbering);
  }
  EXPECT_EQ(Newest, ReplyNumbering_Parse("newest"));
  EXPECT_FALSE(ReplyNumbering_Parse("Newest"));
}

}  // namespace
}  // namespace tolv::sim
