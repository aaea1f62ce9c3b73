// tolv backup and tolv restore against the toppy-sim program on a
// pseudo-terminal, both programs run as a user runs them; the checksum
// lists checked by the system's own sha256sum.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>

#include "child_process.h"
#include "sim_rig.h"
#include "test_support.h"

namespace tolv::test {
namespace {

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class BackupAgainstSim : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.File("seed"));
    WriteBytes(dir_.File("seed/loader.bin"), RandomBytes(91, kLoaderImageSize));
    WriteBytes(dir_.File("seed/firmware.bin"), Text(200000));
    WriteBytes(dir_.File("seed/flash.bin"), DvbSSettings(92));
    WriteBytes(dir_.File("seed/eeprom.bin"), RandomBytes(93, kEepromImageSize));
  }

  // toppy-sim seeded from seed/, quick, with these options; the port's path.
  std::string StartSim(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--baud",          "0",      "--boot-ms",      "100", "--seed",
                                     dir_.File("seed"), "--dump", dir_.File("dump")};
    args.insert(args.end(), extra.begin(), extra.end());
    sim_ = std::make_unique<ChildProcess>(BuildBinDir() + "/toppy-sim", args, dir_.File("sim.err"));
    const std::optional<std::string> port = sim_->ReadLine(10000);
    EXPECT_TRUE(port && port->starts_with("/dev/")) << Read("sim.err");
    return port.value_or("");
  }

  void StopSim() {
    sim_->Signal(SIGTERM);
    ASSERT_EQ(0, sim_->Wait(30000));
  }

  // tolv in the test's folder (standard input no terminal); output and errors.
  int Tolv(const std::string& args, std::string* output, const std::string& prefix = "") {
    return RunCommand(
        "cd '" + dir_.path() + "' && " + prefix + "'" + BuildBinDir() + "/tolv' " + args + " </dev/null",
        output);
  }

  std::string Read(const std::string& name) const {
    if (!Exists(dir_.File(name))) return {};
    const std::vector<uint8_t> bytes = ReadBytes(dir_.File(name));
    return std::string(bytes.begin(), bytes.end());
  }

  std::vector<uint8_t> File(const std::string& name) const { return ReadBytes(dir_.File(name)); }

  // The folders in the test's folder besides those it made itself.
  std::vector<std::string> NewEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      const std::string name = entry.path().filename().string();
      if (name != "seed" && name != "dump" && name != "sim.err") names.push_back(name);
    }
    return names;
  }

  // Makes a backup into the folder "b"; its output.
  std::string Backup(const std::string& port) {
    std::string output;
    EXPECT_EQ(0, Tolv("backup --port " + port + " b", &output)) << output;
    return output;
  }

  TempDir dir_;
  std::unique_ptr<ChildProcess> sim_;
};

TEST_F(BackupAgainstSim, ABackupIsOneNewVerifiedFolderThatSha256sumAccepts) {
  const std::string port = StartSim();
  std::string output;
  ASSERT_EQ(0, Tolv("backup --port " + port, &output)) << output;
  const std::vector<std::string> made = NewEntries();
  ASSERT_EQ(1u, made.size()) << output;
  const std::string name = made[0];
  // MODEL-406-YYYYMMDD-HHMM ("Toppy" without a model list).
  const size_t id = name.find("-406-");
  ASSERT_NE(std::string::npos, id) << name;
  EXPECT_EQ(name.size(), id + 18) << name;
  EXPECT_TRUE(std::all_of(name.begin() + static_cast<ptrdiff_t>(id) + 5, name.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) || c == '-';
  })) << name;
  EXPECT_TRUE(Contains(output, "Backup complete: " + name + " (5 components, verified)\n")) << output;
  EXPECT_TRUE(output.ends_with("The receiver waits in its loader: run `tolv reboot --port " + port +
                               "`, or switch it off and on.\n"))
      << output;
  // The system's own tool accepts the list, and it lists every file.
  std::string checked;
  EXPECT_EQ(0, RunCommand("cd '" + dir_.File(name) + "' && sha256sum -c SHA256SUMS", &checked)) << checked;
  for (const char* file :
       {"loader.bin", "firmware.bin", "flash.bin", "eeprom.bin", "defaults.bin", "backup.tfd", "backup.json"})
    EXPECT_TRUE(Contains(checked, std::string(file) + ": OK\n")) << file << checked;
  ASSERT_NO_FATAL_FAILURE(StopSim());
  // Byte for byte what the receiver holds.
  for (const char* kind : {"loader", "firmware", "eeprom"})
    EXPECT_EQ(File(std::string("seed/") + kind + ".bin"), File(name + "/" + kind + ".bin")) << kind;
  EXPECT_EQ(Unpacked(File("dump/flash.dmp"), kFlashImageSize), File(name + "/flash.bin"));
  const std::vector<uint8_t> defaults = File(name + "/defaults.bin");
  const std::vector<uint8_t> dumped = Unpacked(File("dump/defaults.dmp"), kDefaultsImageSize);
  EXPECT_TRUE(std::equal(dumped.begin(), dumped.begin() + kDefaultsEepromOffset, defaults.begin()));
  const std::string json = Read(name + "/backup.json");
  EXPECT_TRUE(Contains(json, "\"systemId\": 406,")) << json;
  EXPECT_TRUE(Contains(json, "\"port\": \"" + port + "\",")) << json;
  // No checksums in a loader or firmware; the seeded EEPROM is noise, whose
  // record checksums do not hold; the built-in defaults' do.
  EXPECT_EQ(2u, Occurrences(json, "\"checksumsOk\": null")) << json;
  EXPECT_TRUE(Contains(json, "\"file\": \"eeprom.bin\", \"size\": 256, \"sha256\": \"")) << json;
  EXPECT_TRUE(Contains(json, "\"checksumsOk\": false}")) << json;
  // The TFD is whole (its checksums brought up to date, as every TFD save).
  std::string verify;
  EXPECT_EQ(0, Tolv("verify " + name + "/backup.tfd", &verify)) << verify;
}

TEST_F(BackupAgainstSim, ASecondBackupIntoTheSameFolderIsRefusedBeforeAnythingIsFetched) {
  const std::string port = StartSim();
  Backup(port);
  const std::vector<uint8_t> loader = File("b/loader.bin");
  std::string output;
  EXPECT_EQ(1, Tolv("backup --port " + port + " b", &output));
  EXPECT_TRUE(Contains(output,
                       "tolv backup: the folder \"b\" is not empty: a backup goes into a new folder, or "
                       "an empty one. Nothing was fetched.\n"))
      << output;
  WriteBytes(dir_.File("a-file"), {1});
  EXPECT_EQ(1, Tolv("backup --port " + port + " a-file", &output));
  EXPECT_TRUE(Contains(output, "\"a-file\" is a file, not a folder")) << output;
  StopSim();
  EXPECT_EQ(1u, Occurrences(Read("sim.err"), "toppy-sim: reboot")) << Read("sim.err");
  EXPECT_EQ(loader, File("b/loader.bin"));
}

// A port that cannot be opened: one line with the reason, exit status 3,
// and restore says it before it asks anything.
TEST_F(BackupAgainstSim, AMissingPortIsOneLineAndExitStatus3) {
  const std::string missing = dir_.File("no-such-port");
  const std::string line = "Cannot open the serial port " + missing +
                           ": no such port (\"tolv ports\" lists the serial ports of this machine).\n";
  for (const std::string& command :
       {"backup --port " + missing + " b", "download --port " + missing + " -o got/"}) {
    std::string output;
    EXPECT_EQ(3, Tolv(command, &output)) << command;
    EXPECT_EQ(line, output) << command;
  }
  // After what the input's load says.
  for (const std::string& command : {"upload --port " + missing + " --sysid 406 loader=seed/loader.bin",
                                     "restore --port " + missing + " --sysid 406 loader=seed/loader.bin"}) {
    std::string output;
    EXPECT_EQ(3, Tolv(command, &output)) << command;
    EXPECT_TRUE(output.ends_with(line)) << output;
    EXPECT_FALSE(Contains(output, "?")) << output;
  }
}

// The loader has no checksum: a backup reads it twice, and two reads that
// differ (here the receiver garbles one byte of the second) fail the backup
// naming the loader.
TEST_F(BackupAgainstSim, ABackupReadsTheLoaderTwiceAndFailsWhenTheReadsDiffer) {
  const std::string port = StartSim({"--garble-every", "300"});
  std::string output;
  EXPECT_EQ(4, Tolv("backup --port " + port + " b", &output)) << output;
  EXPECT_TRUE(Contains(output,
                       "No backup was made: the Loader is not trustworthy: read twice, the two reads "
                       "differ in "))
      << output;
  EXPECT_TRUE(NewEntries().empty()) << output;
  StopSim();
  EXPECT_EQ(2u, Occurrences(Read("sim.err"), "block 0: 65536 bytes")) << Read("sim.err");
}

TEST_F(BackupAgainstSim, AFailedBackupLeavesNoFolder) {
  const std::string port = StartSim({"--size-delta", "1"});  // every block a byte too long
  std::string output;
  EXPECT_EQ(1, Tolv("backup --port " + port + " b", &output));
  EXPECT_TRUE(Contains(output, "No backup was made: Loader did not arrive (")) << output;
  EXPECT_TRUE(NewEntries().empty()) << output;
}

TEST_F(BackupAgainstSim, ARestoreOfADamagedBackupSendsNothing) {
  const std::string port = StartSim();
  Backup(port);
  std::vector<uint8_t> eeprom = File("b/eeprom.bin");
  eeprom[7] ^= 0x40;
  WriteBytes(dir_.File("b/eeprom.bin"), eeprom);
  WriteBytes(dir_.File("b/background.bin"), RandomBytes(94, kBackgroundImageSize));
  std::string output;
  EXPECT_EQ(5, Tolv("restore --yes b", &output));
  EXPECT_TRUE(Contains(output, "tolv restore: b: eeprom.bin: its SHA-256 differs from SHA256SUMS\n"))
      << output;
  EXPECT_TRUE(Contains(output, "tolv restore: b: background.bin: not listed in SHA256SUMS\n")) << output;
  EXPECT_TRUE(Contains(output, "does not match its SHA256SUMS: nothing was sent.")) << output;
  StopSim();
  EXPECT_EQ(1u, Occurrences(Read("sim.err"), "toppy-sim: reboot")) << "only the backup's";
}

TEST_F(BackupAgainstSim, ADryRunComparesTheSystemIdsAndSendsNothing) {
  const std::string port = StartSim();
  Backup(port);
  std::string output;
  ASSERT_EQ(0, Tolv("restore --dry-run b", &output)) << output;  // the port from backup.json
  EXPECT_TRUE(Contains(output, "Dry run: nothing will be sent. Restore to the receiver on " + port + ":\n"))
      << output;
  EXPECT_TRUE(Contains(output, "  Flash         524288 bytes  about 0:")) << output;
  EXPECT_TRUE(Contains(output, "Dry run: the receiver on " + port + " reports SystemID 406 (")) << output;
  EXPECT_TRUE(Contains(output, "; the image is for SystemID 406 (")) << output;
  EXPECT_TRUE(Contains(output, "): it would be taken (")) << output;
  EXPECT_EQ(5, Tolv("restore --dry-run --sysid 1416 b", &output)) << output;
  EXPECT_TRUE(
      Contains(output, "another model; it would not be sent without --force-model. Nothing was sent."))
      << output;
  StopSim();
  // The SystemID came from a download-mode handshake: the receiver was never
  // asked for upload mode.
  EXPECT_FALSE(Contains(Read("sim.err"), "upload")) << Read("sim.err");
  EXPECT_EQ(3u, Occurrences(Read("sim.err"), "toppy-sim: loader announced")) << Read("sim.err");
}

TEST_F(BackupAgainstSim, VerifyPassesAfterAGoodRestoreAndFailsWhenTheReceiverStoresAByteWrong) {
  {
    const std::string port = StartSim();
    Backup(port);
    std::string output;
    EXPECT_EQ(0, Tolv("restore --yes b", &output)) << output;  // read back by default
    EXPECT_TRUE(Contains(output, "Verified: Loader, Firmware, Flash, EEPROM, Defaults\n")) << output;
    EXPECT_TRUE(Contains(output, "Reboot the Toppy? -> No (--reboot answers Yes)\n")) << output;
    StopSim();
  }
  const std::string port = StartSim({"--store-wrong", "loader"});
  std::string output;
  EXPECT_EQ(4, Tolv("restore --yes --reboot --port " + port + " --only loader,eeprom b", &output)) << output;
  EXPECT_TRUE(Contains(output, "Verified: EEPROM\n")) << output;
  EXPECT_TRUE(
      Contains(output, "Differs after sending: Loader (1 byte differs, the first at offset 32768).\n"))
      << output;
  // A receiver with a wrong loader may never start again: it stays on, and
  // the loader goes again.
  EXPECT_TRUE(Contains(output, "Its loader read back wrong: do not restart the receiver or switch it off"))
      << output;
  EXPECT_TRUE(Contains(output, "send the loader again: tolv restore --port " + port + " --only loader b\n"))
      << output;
  for (const char* never : {"Reboot the Toppy?", "switch it off and on", "tolv reboot"})
    EXPECT_FALSE(Contains(output, never)) << never << "\n" << output;
  StopSim();
  // The first receiver's three (backup, restore, read-back), then this one's
  // upload and read-back: none after it.
  EXPECT_EQ(5u, Occurrences(Read("sim.err"), "toppy-sim: reboot")) << Read("sim.err");
}

TEST_F(BackupAgainstSim, ASerialPortWithoutPermissionNamesTheGroupThatGivesIt) {
  const group* dialout = getgrnam("dialout");
  if (!dialout) {
    GTEST_SKIP() << "this system has no group dialout";
  }
  if (geteuid() != 0) {
    GTEST_SKIP() << "only root can give the port to dialout and run tolv as another user";
  }
  const std::string port = StartSim();
  ASSERT_EQ(0, chown(port.c_str(), 0, dialout->gr_gid));
  ASSERT_EQ(0, chmod(port.c_str(), 0660));
  chmod(dir_.path().c_str(), 0777);
  const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  if (RunCommand(nobody + "test -x '" + BuildBinDir() + "/tolv'") != 0) {
    GTEST_SKIP() << "user nobody cannot run " << BuildBinDir() << "/tolv";
  }
  std::string output;
  EXPECT_EQ(3, Tolv("download --port " + port + " -o got/", &output, nobody));
  EXPECT_EQ("Cannot open the serial port " + port +
                ": no permission to use it: it belongs to the group dialout; join it with "
                "\"sudo adduser $USER dialout\", then log out and in again.\n",
            output);
  StopSim();
}

}  // namespace
}  // namespace tolv::test
