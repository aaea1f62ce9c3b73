// The tolv transfer commands against the toppy-sim program on a
// pseudo-terminal: both programs as a user runs them.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <memory>
#include <thread>

#include "child_process.h"
#include "flash/layout.h"
#include "flash/model_header.h"
#include "flash/packing.h"
#include "sim_rig.h"
#include "test_support.h"

namespace tolv::test {
namespace {

constexpr size_t kUnpackedSettings = 0x60000;

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

bool SamePrefix(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t n) {
  return a.size() >= n && b.size() >= n &&
         std::equal(a.begin(), a.begin() + static_cast<ptrdiff_t>(n), b.begin());
}

class CliAgainstSim : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.File("seed"));
    std::filesystem::create_directories(dir_.File("dump"));
    WriteBytes(dir_.File("seed/loader.bin"), RandomBytes(41, kLoaderImageSize));
    WriteBytes(dir_.File("seed/firmware.bin"), Text(300000));
    WriteBytes(dir_.File("seed/flash.bin"), DvbSSettings(42));
    WriteBytes(dir_.File("seed/eeprom.bin"), RandomBytes(43, kEepromImageSize));
  }

  // Starts toppy-sim seeded from seed/, dumping into dump/; the port's path.
  std::string StartSim(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--seed", dir_.File("seed"), "--dump", dir_.File("dump")};
    args.insert(args.end(), extra.begin(), extra.end());
    return StartBareSim(args);
  }

  // Starts toppy-sim with its built-in memory and these options.
  std::string StartBareSim(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--baud", "0", "--boot-ms", "100"};
    args.insert(args.end(), extra.begin(), extra.end());
    sim_ = std::make_unique<ChildProcess>(BuildBinDir() + "/toppy-sim", args, dir_.File("sim.err"));
    const std::optional<std::string> port = sim_->ReadLine(10000);
    EXPECT_TRUE(port && port->starts_with("/dev/")) << Log("sim.err");
    return port.value_or("");
  }

  // Ends toppy-sim, which lets the receiver finish what it was doing and dumps
  // its memory on the way out; the dump is complete only once it has ended.
  void StopSim() {
    sim_->Signal(SIGTERM);
    ASSERT_EQ(0, sim_->Wait(30000));
  }

  int Tolv(const std::string& args, std::string* output) {
    return RunCommand("cd '" + dir_.path() + "' && '" + BuildBinDir() + "/tolv' " + args, output);
  }

  std::string Log(const std::string& name) {
    const std::vector<uint8_t> bytes =
        Exists(dir_.File(name)) ? ReadBytes(dir_.File(name)) : std::vector<uint8_t>{};
    return std::string(bytes.begin(), bytes.end());
  }

  std::vector<uint8_t> File(const std::string& name) { return ReadBytes(dir_.File(name)); }

  TempDir dir_;
  std::unique_ptr<ChildProcess> sim_;
};

TEST_F(CliAgainstSim, DownloadSavesWhatTheReceiverHolds) {
  const std::string port = StartSim();
  std::string output;
  ASSERT_EQ(0, Tolv("download --port " + port + " --log -o got/", &output)) << output;
  EXPECT_NE(std::string::npos,
            output.find("SystemID 406. Received: Loader (65536 bytes), Firmware (300000 bytes)"))
      << output;
  EXPECT_NE(std::string::npos, output.find("Reboot the Toppy? -> No (--reboot answers Yes)")) << output;
  ASSERT_NO_FATAL_FAILURE(StopSim());
  EXPECT_EQ(File("seed/loader.bin"), File("got/loader.bin"));
  EXPECT_EQ(File("seed/firmware.bin"), File("got/firmware.bin"));
  EXPECT_EQ(File("seed/eeprom.bin"), File("got/eeprom.bin"));
  EXPECT_TRUE(SamePrefix(File("seed/flash.bin"), File("got/flash.bin"), kUnpackedSettings));
  EXPECT_TRUE(SamePrefix(Unpacked(File("dump/defaults.dmp"), kDefaultsImageSize), File("got/defaults.bin"),
                         kUnpackedSettings));
  EXPECT_FALSE(Exists(dir_.File("got/background.bin")));
  EXPECT_NE(std::string::npos, Log("TolvPack.log").find("Comm_DownloadMode : reported SystemID=406"));
}

// Settings whose section 1 checksum does not match arrive as they are; the
// summary names the checksum, which saving the flash dump rewrites.
TEST_F(CliAgainstSim, DownloadNamesABadSectionChecksum) {
  std::vector<uint8_t> settings = DvbSSettings(42);
  settings[Layout_Sections(kLayoutDvbS).start[1] + 1] ^= 0x01;
  WriteBytes(dir_.File("seed/flash.bin"), settings);
  const std::string port = StartSim();
  std::string output;
  ASSERT_EQ(0, Tolv("download --port " + port + " --only settings -o got.dmp", &output)) << output;
  EXPECT_NE(std::string::npos, output.find("; its section checksums 1 (stored 0x")) << output;
  ASSERT_NO_FATAL_FAILURE(StopSim());
}

// What a new user does first: a backup of the built-in memory, checked and
// split into flash block files.
TEST_F(CliAgainstSim, AFirstBackupOfTheBuiltInMemoryVerifiesAndSplitsIntoBlocks) {
  const std::string port = StartBareSim({"--dump", dir_.File("fresh/dump")});
  EXPECT_TRUE(std::filesystem::is_directory(dir_.File("fresh/dump"))) << "made at start";
  std::string output;
  ASSERT_EQ(0, Tolv("download --port " + port + " -o backup/", &output)) << output;
  EXPECT_NE(
      std::string::npos,
      output.find("SystemID 406. Received: Loader (65536 bytes), Firmware (1572864 bytes), Flash (131072 "
                  "bytes), EEPROM (256 bytes), Defaults (131072 bytes).\n"))
      << output;
  EXPECT_EQ(0, Tolv("verify backup/loader.bin backup/firmware.bin backup/flash.bin backup/eeprom.bin "
                    "backup/defaults.bin",
                    &output))
      << output;
  ASSERT_EQ(0, Tolv("convert flash=backup/flash.bin -o 'blocks=backup/channels.bin'", &output)) << output;
  for (int k = 1; k <= 13; ++k)
    EXPECT_TRUE(
        Exists(dir_.File("backup/channels [" + std::string(k < 10 ? "0" : "") + std::to_string(k) + "].bin")))
        << k;
  StopSim();
}

// A receiver of a model without a built-in template: what comes from it goes
// back to it as it came, in its own model header.
TEST_F(CliAgainstSim, AnUnlistedModelsBackupGoesBackAsItCame) {
  const std::string port = StartBareSim({"--sysid", "456", "--dump", dir_.File("dump")});
  const std::string only = " --only settings,eeprom,defaults";
  std::string output;
  ASSERT_EQ(0, Tolv("download --port " + port + only + " -o first.tfd -o first.std", &output)) << output;
  EXPECT_EQ(0, Tolv("info first.std", &output));
  EXPECT_NE(
      std::string::npos,
      output.find("Model header: the block's own, for SystemID 456 (unlisted model: no built-in template)"))
      << output;
  ASSERT_EQ(0, Tolv("upload --port " + port + " first.tfd", &output)) << output;
  EXPECT_NE(std::string::npos, output.find("Sent for SystemID 456: Flash, EEPROM, Defaults")) << output;
  ASSERT_EQ(0, Tolv("download --port " + port + only + " -o second.tfd", &output)) << output;
  StopSim();
  EXPECT_EQ(File("first.tfd"), File("second.tfd"));
  const std::vector<uint8_t> header = ModelHeader_Make(456, false).bytes;
  for (const char* packed : {"dump/flash.dmp", "dump/defaults.dmp"})
    EXPECT_TRUE(std::equal(header.begin(), header.end(), File(packed).begin())) << packed;
  EXPECT_NE(std::string::npos, Log("sim.err").find("upload: image accepted: blocks 2 3 4")) << Log("sim.err");
}

TEST_F(CliAgainstSim, UploadReplacesOnlyWhatIsSent) {
  const std::string port = StartSim();
  WriteBytes(dir_.File("new_loader.bin"), RandomBytes(44, kLoaderImageSize));
  WriteBytes(dir_.File("new_eeprom.bin"), RandomBytes(45, kEepromImageSize));
  std::string output;
  ASSERT_EQ(0, Tolv("upload --port " + port +
                        " --sysid 406 loader=new_loader.bin eeprom=new_eeprom.bin --reboot --yes",
                    &output))
      << output;
  EXPECT_NE(std::string::npos, output.find("Sent for SystemID 406: Loader, EEPROM")) << output;
  // Read back by default; a loader that came back right lets it restart.
  EXPECT_NE(std::string::npos, output.find("\nVerified: Loader, EEPROM\n")) << output;
  EXPECT_NE(std::string::npos, output.find("Reboot the Toppy? -> Yes")) << output;
  ASSERT_NO_FATAL_FAILURE(StopSim());
  EXPECT_NE(std::string::npos, Log("sim.err").find("upload: image accepted: blocks 0 3\n")) << Log("sim.err");
  EXPECT_EQ(File("new_loader.bin"), File("dump/loader.bin"));
  EXPECT_EQ(File("new_eeprom.bin"), File("dump/eeprom.bin"));
  EXPECT_EQ(File("seed/firmware.bin"), File("dump/firmware.bin"));
  // The reboot after the upload reached the receiver too.
  const std::string events = Log("sim.err");
  EXPECT_NE(events.find("reboot"), events.rfind("reboot")) << events;
}

// A receiver that stores one loader byte wrong: the read-back names the
// loader, and since a receiver with a wrong loader may never start again,
// nothing asks or advises a restart; it is to stay on while the loader goes
// again. --no-verify skips the read-back.
TEST_F(CliAgainstSim, AnUploadReadsBackAndNeverAdvisesARestartOverAWrongLoader) {
  const std::string port = StartSim({"--store-wrong", "loader"});
  WriteBytes(dir_.File("new_loader.bin"), RandomBytes(48, kLoaderImageSize));
  const std::string upload = "upload --port " + port + " --sysid 406 --yes loader=new_loader.bin";
  std::string output;
  EXPECT_EQ(4, Tolv(upload + " --reboot", &output)) << output;
  EXPECT_NE(std::string::npos, output.find("Differs after sending: Loader (1 byte differs")) << output;
  EXPECT_NE(std::string::npos,
            output.find("Leave it on and send the loader again: tolv upload --only loader --sysid 406 "
                        "loader=new_loader.bin --reboot --port " +
                        port + "\n"))
      << output;
  for (const char* never : {"Reboot the Toppy?", "switch it off and on", "tolv reboot"})
    EXPECT_EQ(std::string::npos, output.find(never)) << never << "\n" << output;
  EXPECT_EQ(0, Tolv(upload + " --no-verify --no-reboot", &output)) << output;
  EXPECT_EQ(std::string::npos, output.find("Reading back")) << output;
  EXPECT_NE(std::string::npos, output.find("Its loader was sent but not checked")) << output;
  StopSim();
  EXPECT_EQ(1u, Occurrences(Log("sim.err"), "download mode")) << "one read-back only";
}

TEST_F(CliAgainstSim, UploadTakesEveryComponentOfAFolder) {
  const std::string port = StartSim();
  std::filesystem::create_directories(dir_.File("new"));
  WriteBytes(dir_.File("new/loader.bin"), RandomBytes(46, kLoaderImageSize));
  WriteBytes(dir_.File("new/eeprom.bin"), RandomBytes(47, kEepromImageSize));
  std::string output;
  ASSERT_EQ(0, Tolv("upload --port " + port + " --sysid 406 --yes new/", &output)) << output;
  EXPECT_NE(std::string::npos, output.find("Sent for SystemID 406: Loader, EEPROM")) << output;
  StopSim();
  EXPECT_EQ(File("new/loader.bin"), File("dump/loader.bin"));
  EXPECT_EQ(File("new/eeprom.bin"), File("dump/eeprom.bin"));
}

TEST_F(CliAgainstSim, UploadWithoutSystemIdSendsNothing) {
  const std::string port = StartSim();
  std::string output;
  EXPECT_EQ(1, Tolv("upload --port " + port + " loader=seed/loader.bin", &output));
  EXPECT_NE(std::string::npos, output.find("no SystemID")) << output;
  StopSim();
  EXPECT_EQ(std::string::npos, Log("sim.err").find("reboot"));
}

TEST_F(CliAgainstSim, AFailedBlockIsNamedWithItsReasonAndFailsTheRun) {
  const std::string port = StartSim({"--ignore", "04"});
  std::string output;
  EXPECT_EQ(3, Tolv("download --port " + port + " --only eeprom -o got/", &output));
  EXPECT_NE(std::string::npos,
            output.find("SystemID 406. Not received: EEPROM (the receiver stopped answering (code 2403))."))
      << output;
  EXPECT_FALSE(Exists(dir_.File("got/eeprom.bin")));
}

TEST_F(CliAgainstSim, CtrlCCancelsCleanly) {
  const std::string port = StartSim({"--silent"});
  ChildProcess tolv(BuildBinDir() + "/tolv", {"download", "--port", port, "-o", dir_.File("got/")},
                    dir_.File("tolv.err"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // in the mode wait by now
  tolv.Signal(SIGINT);
  EXPECT_EQ(130, tolv.Wait(10000));
  const std::string errors = Log("tolv.err");
  EXPECT_NE(std::string::npos, errors.find("Communication has been canceled")) << errors;
  EXPECT_NE(std::string::npos, errors.find("Cancelled; nothing written.")) << errors;
  // Nothing answered: no question, and no word of a loader it may not be in.
  EXPECT_NE(std::string::npos,
            errors.find("The receiver on " + port + " never answered; nothing was fetched."))
      << errors;
  EXPECT_EQ(std::string::npos, errors.find("Reboot the Toppy?")) << errors;
  EXPECT_EQ(std::string::npos, errors.find("waits in its loader")) << errors;
  EXPECT_FALSE(Exists(dir_.File("got")));
}

TEST_F(CliAgainstSim, AnUploadForAnotherModelIsRefusedUnlessForced) {
  const std::string port = StartSim();  // SystemID 406
  WriteBytes(dir_.File("new_loader.bin"), RandomBytes(46, kLoaderImageSize));
  const std::string upload = "upload --port " + port + " --sysid 4502 --yes loader=new_loader.bin";
  std::string output;
  EXPECT_EQ(5, Tolv(upload, &output));
  EXPECT_NE(std::string::npos, output.find("The receiver reports SystemID 406 (")) << output;
  EXPECT_NE(std::string::npos, output.find("the image is for SystemID 4502 (")) << output;
  EXPECT_NE(std::string::npos, output.find("Send it anyway? -> No (--force-model answers Yes)")) << output;
  EXPECT_NE(std::string::npos,
            output.find("Nothing sent: the receiver reports SystemID 406; the image is for SystemID 4502."))
      << output;
  // Forced, it goes; this receiver then refuses it itself, which the
  // read-back finds: the loader is not what was sent.
  EXPECT_EQ(4, Tolv(upload + " --force-model", &output)) << output;
  EXPECT_NE(std::string::npos, output.find("Differs after sending: Loader (")) << output;
  ASSERT_NO_FATAL_FAILURE(StopSim());
  EXPECT_EQ(File("seed/loader.bin"), File("dump/loader.bin"));
  const std::string events = Log("sim.err");
  EXPECT_EQ(events.find("upload: image refused: it is for SystemID 4502"), events.rfind("upload: "))
      << events;
}

TEST_F(CliAgainstSim, ASilentReceiverIsToldAboutAndGivenUpOnAfterTheTimeout) {
  const std::string port = StartSim({"--silent"});
  std::string output;
  EXPECT_EQ(3, Tolv("download --port " + port + " --timeout 4 -o got/", &output));
  const std::string notice =
      "Waiting for the receiver on " + port + ": switch it on or reconnect the cable; Ctrl-C stops.";
  const size_t at = output.find(notice);
  EXPECT_NE(std::string::npos, at) << output;
  EXPECT_EQ(at, output.rfind(notice)) << "once";
  EXPECT_NE(std::string::npos,
            output.find("Gave up after 4 s: no answer from the receiver on " + port + ". Nothing written."))
      << output;
  EXPECT_EQ(std::string::npos, output.find("Communication has been canceled")) << output;
  EXPECT_FALSE(Exists(dir_.File("got")));
}

TEST_F(CliAgainstSim, DownloadOutputsAreCheckedFirstAndEachFailureIsNamed) {
  // A packed settings block whose data CRC of entry 3 does not hold: the
  // unpacker alone would take it.
  std::vector<uint8_t> packed(kPackedBlockSize, 0);
  ASSERT_TRUE(PackFlashData(406, DvbSSettings(42).data(), packed.data()));
  packed[64 + 3 * 64 + 3] ^= 0x01;
  WriteBytes(dir_.File("bad.dmp"), packed);
  WriteBytes(dir_.File("blocker"), {1});
  const std::string port = StartSim({"--flash", dir_.File("bad.dmp")});
  std::string output;
  // Outputs that cannot be written stop the command before the receiver is
  // touched: a folder under a file, and a dump that --only does not feed.
  EXPECT_EQ(1, Tolv("download --port " + port + " --only loader -o blocker/got/ -o x.dmp", &output));
  EXPECT_NE(std::string::npos, output.find("\"-o blocker/got/\": \"blocker\" is not a folder")) << output;
  EXPECT_NE(std::string::npos, output.find("\"-o x.dmp\": Saving a flash dump needs the Flash.")) << output;
  // The settings are refused; the loader is written all the same, and the
  // dump that needed the settings is named.
  EXPECT_EQ(1, Tolv("download --port " + port + " --only loader,settings -o x.dmp -o got/", &output));
  EXPECT_NE(
      std::string::npos,
      output.find("Not received: Flash (UnPackFlashData failed to unpack the flash block: entry 3, chunk 0: "
                  "the data fail their data CRC"))
      << output;
  EXPECT_NE(std::string::npos, output.find("Saving a flash dump needs the Flash.\n")) << output;
  EXPECT_NE(std::string::npos, output.find("Not written: \"-o x.dmp\".\n")) << output;
  StopSim();
  EXPECT_EQ(File("seed/loader.bin"), File("got/loader.bin"));
  EXPECT_FALSE(Exists(dir_.File("got/flash.bin")));
  // Only the second command rebooted the receiver.
  const std::string events = Log("sim.err");
  EXPECT_EQ(events.find("reboot"), events.rfind("reboot")) << events;
}

TEST_F(CliAgainstSim, RebootReachesTheReceiver) {
  const std::string port = StartSim();
  std::string output;
  EXPECT_EQ(0, Tolv("reboot --port " + port, &output)) << output;
  EXPECT_EQ(3, Tolv("reboot --port " + dir_.File("no-such-port"), &output));
  EXPECT_EQ("Cannot open the serial port " + dir_.File("no-such-port") +
                ": no such port (\"tolv ports\" lists the serial ports of this machine).\n",
            output);
  StopSim();
  EXPECT_NE(std::string::npos, Log("sim.err").find("reboot"));
}

// Replies lost or sent late, by receivers numbering their replies each way a
// receiver may: echoed, its own counter, the newest number it has seen when
// the reply goes out, none. A reply is never taken for another chunk's: the
// files hold exactly what the receiver holds. The firmware is noise, so a
// duplicate taken for the next chunk would show in it. The receiver takes
// 20 ms over each reply, so that the request for the next chunk has come by
// the time the answer to a repeated request goes out.
TEST_F(CliAgainstSim, LostAndLateRepliesGiveExactBytesWhateverTheNumbering) {
  WriteBytes(dir_.File("noise.bin"), RandomBytes(48, 4000));
  const std::vector<std::vector<std::string>> faults = {
      {"--drop-every", "4"}, {"--late-every", "4", "--late-ms", "400", "--delay-ms", "20"}};
  for (const char* numbering : {"echo", "own", "newest", "none"}) {
    for (const std::vector<std::string>& fault : faults) {
      const std::string which = std::string(numbering) + " " + fault[0];
      SCOPED_TRACE(which);
      std::vector<std::string> args = {"--firmware", dir_.File("noise.bin"), "--seq", numbering};
      args.insert(args.end(), fault.begin(), fault.end());
      const std::string port = StartSim(args);
      const std::string to = std::string("got-") + numbering + fault[0] + "/";
      std::string output;
      EXPECT_EQ(0, Tolv("download --port " + port + " --only firmware,eeprom -o " + to, &output)) << output;
      ASSERT_NO_FATAL_FAILURE(StopSim());
      EXPECT_EQ(File("noise.bin"), File(to + "firmware.bin"));
      EXPECT_EQ(File("seed/eeprom.bin"), File(to + "eeprom.bin"));
    }
  }
}

TEST(CliUsage, WrongCommandLinesExitWithTwo) {
  for (const char* args :
       {"download -o x/", "download --port USB", "download --port USB --only background -o x/",
        "download --port USB --only nonsense -o x/", "upload --port USB",
        "upload --port USB --sysid 0 eeprom=x.bin", "upload --port USB --sysid 65942 eeprom=x.bin", "reboot",
        "reboot --port USB --timeout 0", "download --port USB --timeout 2s -o x/", "ports extra"}) {
    std::string output;
    EXPECT_EQ(2, RunCommand("'" + BuildBinDir() + "/tolv' " + args, &output)) << args << "\n" << output;
  }
}

}  // namespace
}  // namespace tolv::test
