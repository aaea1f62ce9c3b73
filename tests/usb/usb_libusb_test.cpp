// The tolv transfer commands through the link's own libusb transport, against
// the emulated receiver as a USB device behind usbdevfs: each case runs
//   toppy-sim --usb [switches] -- tolv ...
// as a user would, and checks what arrived, what the receiver holds and what
// the user was told. Skipped where toppy-sim has no USB bus (umockdev missing).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "child_process.h"
#include "flash/packing.h"
#include "test_support.h"
#include "workspace/workspace.h"

namespace tolv::test {
namespace {

using Clock = std::chrono::steady_clock;

// Generous: the machine may be slow and busy; a run that takes this long hangs.
constexpr int kRunTimeoutMs = 90000;
constexpr int kEventTimeoutMs = 30000;

std::string TextOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// toppy-sim --usb ... -- COMMAND..., run in a folder, standard output and
// error to files there.
class SimRun {
 public:
  SimRun(const std::string& dir, const std::vector<std::string>& args) : dir_(dir) {
    ChildSetup setup;
    setup.cwd = dir;
    setup.out = open((dir + "/run.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    setup.err = open((dir + "/run.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = StartProgram(BuildBinDir() + "/toppy-sim", args, setup);
    close(setup.out);
    close(setup.err);
  }
  ~SimRun() {
    if (!status_ && pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  SimRun(const SimRun&) = delete;
  SimRun& operator=(const SimRun&) = delete;

  // toppy-sim's exit status (the command's); nothing when it did not end in time.
  std::optional<int> Wait(int timeoutMs = kRunTimeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!status_ && Clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_)
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return status_;
  }

  // Waits until the text shows in the file (in the run's folder).
  bool WaitForText(const std::string& file, const std::string& text, int timeoutMs = kEventTimeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
      if (Contains(TextOf(dir_ + "/" + file), text)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // Ctrl-C at the command, as the terminal sends it.
  void CtrlC() {
    std::istringstream children(
        TextOf("/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/children"));
    for (pid_t child = 0; children >> child;) kill(child, SIGINT);
  }

  std::string Out() const { return TextOf(dir_ + "/run.out"); }
  std::string Err() const { return TextOf(dir_ + "/run.err"); }
  // The command's line that says what arrived or went: the last one before
  // those that say what the receiver is left in, the reboot question and the
  // time it took.
  std::string FinalLine() const {
    std::string text = Err();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    size_t start = text.find_last_of('\n');
    while (start != std::string::npos &&
           (text.compare(start + 1, 13, "The receiver ") == 0 || text.compare(start + 1, 5, "Took ") == 0 ||
            text.compare(start + 1, 17, "Reboot the Toppy?") == 0)) {
      text.erase(start);
      start = text.find_last_of('\n');
    }
    return start == std::string::npos ? text : text.substr(start + 1);
  }

 private:
  std::string dir_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

class UsbThroughLibusb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Is there a USB bus? Without umockdev (at build time or at run time)
    // the cases skip; any other failure of toppy-sim --usb fails them.
    TempDir probe;
    SimRun run(probe.path(), {"--usb", "--quiet", "--", "true"});
    if (run.Wait() == 0) return;
    const std::string err = run.Err();
    const bool noUmockdev =
        Contains(err, "built without umockdev") || Contains(err, "Debian package umockdev");
    (noUmockdev ? skipReason_ : failure_) = "toppy-sim --usb cannot run here: " + err;
  }

  void SetUp() override {
    if (!skipReason_.empty()) GTEST_SKIP() << skipReason_;
    ASSERT_TRUE(failure_.empty()) << failure_;
    WriteBytes(dir_.File("loader.bin"), RandomBytes(71, kLoaderImageSize));
    std::vector<uint8_t> firmware = Text(1200000);
    const std::vector<uint8_t> noise = RandomBytes(72, 300000);
    firmware.insert(firmware.end(), noise.begin(), noise.end());
    WriteBytes(dir_.File("firmware.bin"), firmware);
    WriteBytes(dir_.File("eeprom.bin"), RandomBytes(73, kEepromImageSize));
    std::filesystem::create_directories(dir_.File("dump"));
  }

  // toppy-sim --usb with the test's loader, firmware and EEPROM, quick boots
  // and its memory dumped into dump/ at the end, then the switches, then
  // "--" and the command (tolv when it starts with a tolv command name).
  std::unique_ptr<SimRun> Start(const std::vector<std::string>& switches, std::vector<std::string> command) {
    std::vector<std::string> args = {"--usb",      "--boot-ms",  "100",          "--loader",
                                     "loader.bin", "--firmware", "firmware.bin", "--eeprom",
                                     "eeprom.bin", "--dump",     "dump"};
    args.insert(args.end(), switches.begin(), switches.end());
    args.push_back("--");
    if (command[0] == "download" || command[0] == "upload" || command[0] == "reboot" ||
        command[0] == "ports" || command[0] == "backup" || command[0] == "restore")
      command.insert(command.begin(), BuildBinDir() + "/tolv");
    args.insert(args.end(), command.begin(), command.end());
    return std::make_unique<SimRun>(dir_.path(), args);
  }

  std::vector<uint8_t> File(const std::string& name) const { return ReadBytes(dir_.File(name)); }
  std::string Log() const { return TextOf(dir_.File("TolvPack.log")); }

  // Ctrl-C once the text has shown in the run's file; the run must then end
  // as a clean cancel: status 130, the final line saying so, nothing written.
  void ExpectCleanCancel(SimRun& run, const std::string& file, const std::string& text) {
    ASSERT_TRUE(run.WaitForText(file, text)) << run.Err();
    run.CtrlC();
    EXPECT_EQ(130, run.Wait()) << run.Err();
    EXPECT_TRUE(Contains(run.Err(), "\nCancelled")) << run.Err();
    EXPECT_FALSE(Exists(dir_.File("got"))) << text;
  }

  static inline std::string skipReason_;
  static inline std::string failure_;
  TempDir dir_;
};

TEST_F(UsbThroughLibusb, DownloadBringsEveryBlockByteForByte) {
  auto run = Start({}, {"download", "--port", "USB", "--log", "-o", "got/"});
  ASSERT_EQ(0, run->Wait()) << run->Err();
  EXPECT_EQ(File("loader.bin"), File("got/loader.bin"));
  EXPECT_EQ(File("firmware.bin"), File("got/firmware.bin"));
  EXPECT_EQ(File("eeprom.bin"), File("got/eeprom.bin"));
  // Settings and defaults as the receiver holds them (packed), unpacked.
  const std::vector<uint8_t> packedFlash = File("dump/flash.dmp");
  std::vector<uint8_t> settings(kFlashImageSize, 0);
  ASSERT_TRUE(UnPackFlashData(packedFlash.data(), packedFlash.size(), settings.data(), settings.size()));
  EXPECT_EQ(settings, File("got/flash.bin"));
  const std::vector<uint8_t> packedDefaults = File("dump/defaults.dmp");
  std::vector<uint8_t> defaults(kDefaultsImageSize, 0);
  ASSERT_TRUE(
      UnPackFlashData(packedDefaults.data(), packedDefaults.size(), defaults.data(), defaults.size()));
  ASSERT_TRUE(UnPackDefaultsEeprom(packedDefaults.data(), packedDefaults.size(),
                                   defaults.data() + kDefaultsEepromOffset));
  EXPECT_EQ(defaults, File("got/defaults.bin"));
  // The reboot took the device off the bus; it came back with a new number
  // and was found again.
  EXPECT_TRUE(Contains(Log(), "enumerated as USB bus 001 device 002")) << Log();
  EXPECT_TRUE(Contains(Log(), "enumerated as USB bus 001 device 003")) << Log();
  EXPECT_TRUE(Contains(run->Err(), "toppy-sim: reboot")) << run->Err();
}

TEST_F(UsbThroughLibusb, UploadPutsEveryComponentIntoTheReceiverAndRebootsIt) {
  std::filesystem::create_directories(dir_.File("new"));
  WriteBytes(dir_.File("new/loader.bin"), RandomBytes(81, kLoaderImageSize));
  WriteBytes(dir_.File("new/firmware.bin"), RandomBytes(82, 700000));
  WriteBytes(dir_.File("new/eeprom.bin"), RandomBytes(83, kEepromImageSize));
  WriteBytes(dir_.File("new/background.bin"), RandomBytes(84, kBackgroundImageSize));
  auto run =
      Start({}, {"upload", "--port", "USB", "--sysid", "406", "--reboot", "--yes", "loader=new/loader.bin",
                 "firmware=new/firmware.bin", "eeprom=new/eeprom.bin", "background=new/background.bin"});
  ASSERT_EQ(0, run->Wait()) << run->Err();
  EXPECT_TRUE(Contains(run->Err(), "\nSent for SystemID 406: Loader, Firmware, EEPROM, Background"))
      << run->Err();
  EXPECT_TRUE(Contains(run->Err(), "\nVerified: Loader, Firmware, EEPROM (the Background")) << run->Err();
  for (const char* kind : {"loader", "firmware", "eeprom", "background"})
    EXPECT_EQ(File(std::string("new/") + kind + ".bin"), File(std::string("dump/") + kind + ".bin")) << kind;
  // One reboot before the upload, one for "Reboot the Toppy? -> Yes".
  const std::string events = run->Err();
  EXPECT_TRUE(Contains(events, "image accepted")) << events;
  EXPECT_NE(events.find("toppy-sim: reboot"), events.rfind("toppy-sim: reboot")) << events;
}

TEST_F(UsbThroughLibusb, CancelInEachPhaseWritesNothing) {
  {
    SCOPED_TRACE("waiting for the device");
    auto run = Start({"--usb-appear-ms", "600000"}, {"download", "--port", "USB", "-o", "got/"});
    ExpectCleanCancel(*run, "run.err", "Waiting for USB interface");
    EXPECT_TRUE(Contains(run->Err(), "stopped by Ctrl-C while waiting for the USB receiver (code 2322)"))
        << run->Err();
  }
  {
    SCOPED_TRACE("waiting for download mode");
    auto run = Start({"--silent"}, {"download", "--port", "USB", "-o", "got/"});
    ExpectCleanCancel(*run, "run.err", "toppy-sim: reboot");
    // The wait is a loop of opening the device and asking for the mode; the
    // cancel ends whichever step it finds.
    EXPECT_TRUE(Contains(run->FinalLine(), "stopped by Ctrl-C")) << run->Err();
  }
  {
    SCOPED_TRACE("in the middle of the firmware");
    // Replies 20 ms late: the firmware takes a second or more.
    auto run = Start({"--delay-ms", "20"}, {"download", "--port", "USB", "-o", "got/"});
    ExpectCleanCancel(*run, "run.err", "toppy-sim: block 1:");
    EXPECT_TRUE(Contains(run->FinalLine(), "Not received: Firmware (stopped by Ctrl-C (code 2402)"))
        << run->Err();
  }
  {
    SCOPED_TRACE("in the middle of an upload");
    WriteBytes(dir_.File("other.bin"), RandomBytes(74, 1000000));
    auto run =
        Start({"--delay-ms", "20"}, {"upload", "--port", "USB", "--sysid", "406", "firmware=other.bin"});
    ExpectCleanCancel(*run, "run.err", "toppy-sim: upload mode");
    EXPECT_FALSE(Contains(run->Err(), "image accepted")) << run->Err();
    EXPECT_EQ(File("firmware.bin"), File("dump/firmware.bin"));  // the receiver's is untouched
  }
}

TEST_F(UsbThroughLibusb, ABackupGoesBackVerifiedAndAByteStoredWrongIsFound) {
  const std::string tolv = BuildBinDir() + "/tolv";
  auto run = Start(
      {}, {"sh", "-c", "'" + tolv + "' backup --port USB b && '" + tolv + "' restore --yes --verify b"});
  ASSERT_EQ(0, run->Wait()) << run->Err();
  EXPECT_TRUE(Contains(run->Err(), "Backup complete: b (5 components, verified)\n")) << run->Err();
  EXPECT_TRUE(Contains(run->Err(), "\nVerified: Loader, Firmware, Flash, EEPROM, Defaults\n")) << run->Err();
  std::string sums;
  EXPECT_EQ(0, RunCommand("cd '" + dir_.File("b") + "' && sha256sum -c SHA256SUMS", &sums)) << sums;
  EXPECT_EQ(File("eeprom.bin"), File("b/eeprom.bin"));
  // A receiver whose flash keeps a byte of the EEPROM wrong.
  run = Start({"--store-wrong", "eeprom"}, {"restore", "--yes", "--verify", "--only", "eeprom", "b"});
  EXPECT_EQ(4, run->Wait()) << run->Err();
  EXPECT_TRUE(
      Contains(run->Err(), "Differs after sending: EEPROM (1 byte differs, the first at offset 128).\n"))
      << run->Err();
}

TEST_F(UsbThroughLibusb, ADeviceThatAppearsLateIsWaitedFor) {
  auto run =
      Start({"--usb-appear-ms", "2500"}, {"download", "--port", "USB", "--only", "eeprom", "-o", "got/"});
  ASSERT_EQ(0, run->Wait()) << run->Err();
  const std::string err = run->Err();
  EXPECT_LT(err.find("Waiting for USB interface"), err.find("Device opened")) << err;
  EXPECT_EQ(File("eeprom.bin"), File("got/eeprom.bin"));
}

TEST_F(UsbThroughLibusb, ADeviceUnpluggedMidTransferFailsTheBlock) {
  // The loader takes three data replies; the cable goes during the firmware.
  auto run = Start({"--disconnect-after", "5"},
                   {"download", "--port", "USB", "--only", "loader,firmware", "-o", "got/"});
  EXPECT_EQ(3, run->Wait()) << run->Err();  // the receiver was lost
  EXPECT_TRUE(Contains(run->Err(), "cable pulled after 5 data replies")) << run->Err();
  EXPECT_TRUE(
      run->FinalLine().starts_with("SystemID 406. Received: Loader (65536 bytes). Not received: Firmware ("))
      << run->Err();
  EXPECT_EQ(File("loader.bin"), File("got/loader.bin"));
  EXPECT_FALSE(Exists(dir_.File("got/firmware.bin")));
}

TEST_F(UsbThroughLibusb, AKernelDriverOnTheInterfaceIsDetached) {
  auto run = Start({"--usb-kernel-driver"}, {"download", "--port", "USB", "--only", "eeprom", "-o", "got/"});
  ASSERT_EQ(0, run->Wait()) << run->Err();
  EXPECT_EQ(File("eeprom.bin"), File("got/eeprom.bin"));
}

TEST_F(UsbThroughLibusb, ADeviceThatCannotBeUsedIsNamedWhileWaiting) {
  const auto reasonLine = [](const std::string& reason) {
    return "Receiver found but not usable: " + reason + ".\n";
  };
  {
    SCOPED_TRACE("interface held by another program");
    auto run =
        Start({"--usb-busy"}, {"download", "--port", "USB", "--log", "--only", "eeprom", "-o", "got/"});
    // Said at once, and only once in the seconds of polls until the waiting
    // line.
    const std::string line =
        reasonLine("the receiver on USB bus 001 device 002: its interface is held by another program");
    // Not "switch it on": it is there.
    const std::string waiting = "Waiting for the receiver on USB: it is there but cannot be used (see above)";
    ExpectCleanCancel(*run, "run.err", waiting);
    const std::string err = run->Err();
    EXPECT_LT(err.find(line), err.find(waiting)) << err;
    EXPECT_EQ(err.find(line), err.rfind(line)) << err;
    EXPECT_TRUE(Contains(Log(), "its interface is held by another program")) << Log();
  }
  {
    SCOPED_TRACE("device node not permitted");
    // The first run's log files are not the next user's to append to.
    std::filesystem::remove(dir_.File("TolvPack.log"));
    std::filesystem::remove(dir_.File("CommDump.bin"));
    // Root may open any node: the command runs as nobody then.
    std::vector<std::string> command = {
        BuildBinDir() + "/tolv", "download", "--port", "USB", "--log", "--only", "eeprom", "-o", "got/"};
    if (geteuid() == 0) {
      if (RunCommand("setpriv --reuid=65534 --regid=65534 --clear-groups test -x '" + command[0] + "'") != 0)
        GTEST_SKIP() << "running as root, and user nobody cannot run " << command[0];
      chmod(dir_.path().c_str(), 0777);
      command.insert(command.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    auto run = Start({"--usb-no-access"}, command);
    // Under umockdev the command cannot wait long here: its preload library
    // aborts it after 50 failed opens of a device node.
    ExpectCleanCancel(*run, "run.err",
                      reasonLine("no permission to use the receiver on USB bus 001 device 002 (install the "
                                 "udev rule 60-tolvpack-toppy.rules, then plug the receiver in again)"));
    EXPECT_TRUE(Contains(Log(), "no permission to use the receiver on USB bus 001 device 002")) << Log();
  }
}

TEST_F(UsbThroughLibusb, LostAndLateRepliesGiveExactBytesWhateverTheNumbering) {
  // Every third data reply is lost, or comes after the link's 200 ms read has
  // given up: the chunk is asked for again and the replies to every request
  // arrive, the late one first. Or every other reply (and every block size)
  // comes again later, or every third is held until the repeat's answer has
  // gone out. The receiver numbers its replies each way a
  // receiver may, and takes 20 ms over each, so that the request for the next
  // chunk has come by the time the answer to a repeated one goes out. A
  // firmware of noise goes out as five chunks of 30000 bytes and a short one,
  // so a duplicate taken for the next chunk would fit it and show in the file.
  WriteBytes(dir_.File("noise.bin"), RandomBytes(75, 150000));
  const std::vector<std::vector<std::string>> faults = {
      {"--drop-every", "3"},
      {"--late-every", "3", "--late-ms", "300", "--delay-ms", "20"},
      {"--duplicate-late-every", "2", "--late-ms", "100", "--duplicate-sizes"},
      {"--overtake-every", "3"}};
  for (const char* numbering : {"echo", "own", "newest", "none"}) {
    for (const std::vector<std::string>& fault : faults) {
      SCOPED_TRACE(std::string(numbering) + " " + fault[0]);
      std::filesystem::remove(dir_.File("TolvPack.log"));
      std::vector<std::string> switches = {"--firmware", "noise.bin", "--seq", numbering};
      switches.insert(switches.end(), fault.begin(), fault.end());
      const std::string to = std::string("got-") + numbering + fault[0] + "/";
      auto run =
          Start(switches, {"download", "--port", "USB", "--log", "--only", "firmware,eeprom", "-o", to});
      ASSERT_EQ(0, run->Wait()) << run->Err();
      EXPECT_EQ(File("noise.bin"), File(to + "firmware.bin"));
      EXPECT_EQ(File("eeprom.bin"), File(to + "eeprom.bin"));
      if (fault[0] == "--late-every") {
        EXPECT_TRUE(Contains(Log(), "late reply to a repeated request discarded.")) << Log();
      }
    }
  }
}

TEST_F(UsbThroughLibusb, RepliesLaterThanEveryReadFailTheBlocks) {
  // Every reply later than the five reads a chunk is given (the block sizes
  // are waited for that long): the blocks fail, and the stale replies the
  // next reads find are not taken as data.
  auto run =
      Start({"--delay-ms", "1200"}, {"download", "--port", "USB", "--only", "loader,eeprom", "-o", "late/"});
  EXPECT_EQ(3, run->Wait()) << run->Err();
  EXPECT_TRUE(Contains(run->FinalLine(), "Not received: Loader (the receiver stopped answering (code 2403))"))
      << run->Err();
  EXPECT_TRUE(Contains(run->FinalLine(), "EEPROM (the receiver stopped answering (code 2403))"))
      << run->Err();
  EXPECT_FALSE(Exists(dir_.File("late/loader.bin")));
  EXPECT_FALSE(Exists(dir_.File("late/eeprom.bin")));
}

}  // namespace
}  // namespace tolv::test
