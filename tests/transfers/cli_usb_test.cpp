// The tolv transfer commands over USB: the command runner in this process,
// the emulated receiver behind emulated USB pipes that the process-wide link
// finds as its USB receiver. Standard output and standard error go to files,
// as a user's redirection sends them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "cli/command_table.h"
#include "flash/packing.h"
#include "link/comm.h"
#include "results/result_codes.h"
#include "sim_rig.h"
#include "test_support.h"

namespace tolv::test {
namespace {

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;

  // A line on standard error, counted from its end (0: the last, which
  // says what the receiver is left in; 1: the one before, what arrived or
  // went).
  std::string Line(size_t fromEnd) const {
    std::string text = err;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    for (; fromEnd > 0; --fromEnd) text.erase(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n'));
    const size_t start = text.rfind('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
  }
  std::string FinalLine() const { return Line(0); }
  // The last line before the final one that is not the time taken or the
  // reboot question.
  std::string SummaryLine() const {
    size_t n = 1;
    while (Line(n).starts_with("Took ") || Line(n).starts_with("Reboot the Toppy?")) ++n;
    return Line(n);
  }
};

std::string FileText(const std::string& path) {
  const std::vector<uint8_t> bytes = Exists(path) ? ReadBytes(path) : std::vector<uint8_t>{};
  return std::string(bytes.begin(), bytes.end());
}

// Points standard output and standard error at files for its lifetime.
class RedirectedOutput {
 public:
  explicit RedirectedOutput(const TempDir& dir)
      : outPath_(dir.File("stdout.txt")), errPath_(dir.File("stderr.txt")) {
    std::fflush(stdout);
    std::fflush(stderr);
    savedOut_ = dup(STDOUT_FILENO);
    savedErr_ = dup(STDERR_FILENO);
    Redirect(outPath_, STDOUT_FILENO);
    Redirect(errPath_, STDERR_FILENO);
  }
  ~RedirectedOutput() {
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut_, STDOUT_FILENO);
    dup2(savedErr_, STDERR_FILENO);
    close(savedOut_);
    close(savedErr_);
  }
  RedirectedOutput(const RedirectedOutput&) = delete;
  RedirectedOutput& operator=(const RedirectedOutput&) = delete;

  const std::string& outPath() const { return outPath_; }
  const std::string& errPath() const { return errPath_; }

 private:
  static void Redirect(const std::string& path, int stream) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_GE(fd, 0) << path;
    dup2(fd, stream);
    close(fd);
  }

  std::string outPath_, errPath_;
  int savedOut_ = -1, savedErr_ = -1;
};

// Runs "tolv ARGS..." in this process, its output going to files in outputs.
CliRun RunTolv(const std::vector<std::string>& args, const TempDir& outputs) {
  CliRun run;
  {
    RedirectedOutput redirected(outputs);
    run.status = cli::Run(args);
  }
  run.out = FileText(outputs.File("stdout.txt"));
  run.err = FileText(outputs.File("stderr.txt"));
  return run;
}

CliRun RunTolv(const std::vector<std::string>& args) { return RunTolv(args, TempDir()); }

// The emulated USB receiver that the process-wide link finds.
struct UsbReceiver {
  explicit UsbReceiver(sim::ReceiverMemory memory, uint32_t bytesPerSecond = 0)
      : rig(SimRig::Usb(std::move(memory), FastOptions(), bytesPerSecond)),
        provider(dynamic_cast<sim::EmulatedUsbPort&>(rig->port())) {}

  std::unique_ptr<SimRig> rig;
  sim::ScopedUsbProvider provider;
};

// Presses Ctrl-C at the command running on this thread, once the command has
// taken over Ctrl-C (before that it would end the test program) and when
// ready() says so. The caller makes sure the transfer cannot end before.
class CtrlC {
 public:
  explicit CtrlC(std::function<bool()> ready)
      : target_(pthread_self()), thread_([this, ready = std::move(ready)](std::stop_token stop) {
          while (!stop.stop_requested()) {
            if (Taken() && ready()) {
              pthread_kill(target_, SIGINT);
              pressed_ = true;
              return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
        }) {}

  bool pressed() const { return pressed_; }

 private:
  static bool Taken() {
    struct sigaction current {};
    sigaction(SIGINT, nullptr, &current);
    return current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN;
  }

  pthread_t target_;
  std::atomic<bool> pressed_{false};
  std::jthread thread_;
};

constexpr size_t kFirmwareSize = 5 * 1024 * 1024;

TEST(CliOverUsb, DownloadWritesEveryBlockByteForByte) {
  UsbReceiver usb(TestMemory(kFirmwareSize));
  TempDir dir;
  const CliRun run = RunTolv({"download", "--port", "USB", "-o", dir.File("got") + "/"});
  const sim::ReceiverMemory memory = usb.rig->receiver().MemorySnapshot();
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(
      "SystemID 406. Received: Loader (65536 bytes), Firmware (" + std::to_string(kFirmwareSize) +
          " bytes), Flash (" + std::to_string(memory.packedFlash.size()) +
          " bytes), EEPROM (256 bytes; its record checksums 1, 2, 3, 4, 5, 6, 7 do not match), Defaults (" +
          std::to_string(memory.packedDefaults.size()) + " bytes).",
      run.SummaryLine())
      << run.err;
  EXPECT_EQ("The receiver waits in its loader: run `tolv reboot --port USB`, or switch it off and on.",
            run.FinalLine());
  EXPECT_EQ(memory.loader, ReadBytes(dir.File("got/loader.bin")));
  EXPECT_EQ(memory.firmware, ReadBytes(dir.File("got/firmware.bin")));
  EXPECT_EQ(memory.eeprom, ReadBytes(dir.File("got/eeprom.bin")));
  // The settings the receiver packed, restored whole.
  EXPECT_EQ(DvbSSettings(25), ReadBytes(dir.File("got/flash.bin")));
  // The defaults with the default EEPROM that their packed block carries.
  std::vector<uint8_t> defaults = Unpacked(memory.packedDefaults, kDefaultsImageSize);
  const std::vector<uint8_t> defaultEeprom = TestDefaultEeprom();
  std::copy(defaultEeprom.begin(), defaultEeprom.end(),
            defaults.begin() + static_cast<ptrdiff_t>(kDefaultsEepromOffset));
  EXPECT_EQ(defaults, ReadBytes(dir.File("got/defaults.bin")));
  EXPECT_FALSE(Exists(dir.File("got/background.bin")));  // never fetched
  // The firmware's size is known only from the receiver's reply; the
  // progress lines show its bytes all the same, in bytes as the summary
  // does, with the share of the whole job.
  const std::string lastLine = "Firmware: 100% done (";
  const size_t at = run.err.find(lastLine);
  ASSERT_NE(std::string::npos, at) << run.err;
  const std::string figures =
      run.err.substr(at + lastLine.size(), run.err.find(';', at) - at - lastLine.size());
  const size_t of = figures.find(" of ");
  ASSERT_NE(std::string::npos, of) << figures;
  EXPECT_EQ(figures.substr(0, of) + " bytes", figures.substr(of + 4)) << figures;
  EXPECT_NE(std::string::npos, run.err.find("Defaults: 100% done (131072 of 131072 bytes; all: 100%)"))
      << run.err;
  EXPECT_EQ(1, usb.rig->receiver().Stats().reboots);  // the one before the transfer; "No" after it
}

TEST(CliOverUsb, UploadPutsEveryComponentIntoTheReceiver) {
  UsbReceiver usb(TestMemory(1000));
  TempDir dir;
  std::vector<uint8_t> defaults(kDefaultsImageSize, 0);
  const std::vector<uint8_t> text = Text(40000);
  std::copy(text.begin(), text.end(), defaults.begin() + 0x2000);
  const std::vector<uint8_t> defaultEeprom = RandomBytes(51, kEepromImageSize);
  std::copy(defaultEeprom.begin(), defaultEeprom.end(),
            defaults.begin() + static_cast<ptrdiff_t>(kDefaultsEepromOffset));
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
      {"loader", RandomBytes(52, kLoaderImageSize)},
      {"firmware", Text(kFirmwareSize)},
      {"flash", DvbSSettings(53)},
      {"eeprom", RandomBytes(54, kEepromImageSize)},
      {"defaults", defaults},
      {"background", RandomBytes(55, kBackgroundImageSize)}};
  std::vector<std::string> args = {"upload", "--port", "USB", "--sysid", "406", "--yes"};
  for (const auto& [kind, bytes] : files) {
    WriteBytes(dir.File(kind + ".bin"), bytes);
    args.push_back(kind + "=" + dir.File(kind + ".bin"));
  }
  const CliRun run = RunTolv(args);
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_NE(std::string::npos,
            run.err.find("\nSent for SystemID 406: Loader, Firmware, Flash, EEPROM, Defaults, Background ("))
      << run.err;
  // Read back and compared by default.
  EXPECT_EQ(
      "Verified: Loader, Firmware, Flash, EEPROM, Defaults (the Background cannot be read back: a "
      "receiver never gives it)",
      run.SummaryLine())
      << run.err;
  ASSERT_TRUE(usb.rig->receiver().WaitForEvent("upload: image accepted: blocks 0 1 2 3 4 5", 5000));
  const sim::ReceiverMemory memory = usb.rig->receiver().MemorySnapshot();
  EXPECT_EQ(files[0].second, memory.loader);
  EXPECT_EQ(files[1].second, memory.firmware);
  EXPECT_EQ(files[3].second, memory.eeprom);
  EXPECT_EQ(files[5].second, memory.background);
  // Settings and defaults went packed; unpacked they are what was sent.
  EXPECT_EQ(files[2].second, Unpacked(memory.packedFlash, kFlashImageSize));
  std::vector<uint8_t> defaultsBack = Unpacked(memory.packedDefaults, kDefaultsImageSize);
  std::vector<uint8_t> eepromBack(kEepromImageSize, 0);
  ASSERT_TRUE(
      UnPackDefaultsEeprom(memory.packedDefaults.data(), memory.packedDefaults.size(), eepromBack.data()));
  EXPECT_EQ(defaultEeprom, eepromBack);
  std::copy(eepromBack.begin(), eepromBack.end(),
            defaultsBack.begin() + static_cast<ptrdiff_t>(kDefaultsEepromOffset));
  EXPECT_EQ(defaults, defaultsBack);
}

TEST(CliOverUsb, ABackupGoesBackAndReadsBackTheSame) {
  UsbReceiver usb(TestMemory(300000));
  TempDir dir;
  const std::string folder = dir.File("b");
  const CliRun backup = RunTolv({"backup", "--port", "USB", folder});
  EXPECT_EQ(0, backup.status) << backup.err;
  EXPECT_EQ("Backup complete: " + folder + " (5 components, verified)", backup.SummaryLine()) << backup.err;
  const sim::ReceiverMemory memory = usb.rig->receiver().MemorySnapshot();
  EXPECT_EQ(memory.loader, ReadBytes(folder + "/loader.bin"));
  EXPECT_EQ(memory.firmware, ReadBytes(folder + "/firmware.bin"));
  // The port comes from the backup.
  const CliRun restore = RunTolv({"restore", "--yes", "--verify", folder});
  EXPECT_EQ(0, restore.status) << restore.err;
  EXPECT_NE(std::string::npos, restore.err.find("\nVerified: Loader, Firmware, Flash, EEPROM, Defaults\n"))
      << restore.err;
  EXPECT_TRUE(usb.rig->receiver().WaitForEvent("upload: image accepted: blocks 0 1 2 3 4", 5000));
  EXPECT_EQ(memory, usb.rig->receiver().MemorySnapshot());
}

TEST(CliOverUsb, CtrlCWhileWaitingForTheReceiverCancelsCleanly) {
  UsbReceiver usb(TestMemory(1000));
  usb.rig->port().Disconnect();  // nothing on the bus: the open waits until Ctrl-C
  TempDir dir;
  CliRun run;
  {
    CtrlC ctrlC([] { return true; });
    run = RunTolv({"download", "--port", "USB", "-o", dir.File("got") + "/"});
    EXPECT_TRUE(ctrlC.pressed());
  }
  EXPECT_EQ(130, run.status) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("Waiting for USB interface")) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("Communication has been canceled")) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("Cancelled; nothing written.")) << run.err;
  EXPECT_EQ("Cancelled; nothing received: stopped by Ctrl-C while waiting for the USB receiver (code 2322)",
            run.SummaryLine());
  EXPECT_EQ("The receiver was not reached; it is as it was.", run.FinalLine());
  EXPECT_FALSE(Exists(dir.File("got")));
}

TEST(CliOverUsb, CtrlCMidFirmwareCancelsCleanly) {
  // 300,000 bytes a second on the pipes: the firmware would take seconds
  // more when the cancel comes, so Ctrl-C cannot arrive after the command has
  // given Ctrl-C back.
  UsbReceiver usb(TestMemory(kFirmwareSize), 300000);
  TempDir dir;
  CliRun run;
  {
    // The loader takes three data requests; three more are the firmware's.
    CtrlC ctrlC([&] { return usb.rig->receiver().Stats().dataRequests >= 6; });
    run = RunTolv({"download", "--port", "USB", "-o", dir.File("got") + "/"});
    EXPECT_TRUE(ctrlC.pressed());
  }
  EXPECT_EQ(130, run.status) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("Cancelled; nothing written.")) << run.err;
  EXPECT_TRUE(
      run.SummaryLine().starts_with("Cancelled. SystemID 406. Received: Loader (65536 bytes). Not "
                                    "received: Firmware (stopped by Ctrl-C (code 2402)"))
      << run.err;
  EXPECT_FALSE(Exists(dir.File("got")));
  // The session was ended and the link let go of the receiver.
  EXPECT_FALSE(Comm_Link().isOpen());
  EXPECT_LT(usb.rig->receiver().Stats().dataRequests, 60);
}

TEST(CliOverUsb, OneCtrlCInTheUploadModeWaitEndsTheUpload) {
  // The receiver never answers the upload-mode request: the handshake is
  // retried with a close and an open, and the one Ctrl-C may come in at any
  // of their statuses.
  sim::ReceiverOptions options = FastOptions();
  options.faults.ignoredCommands.set(0x01);
  auto rig = SimRig::Usb(TestMemory(1000), options);
  sim::ScopedUsbProvider provider(dynamic_cast<sim::EmulatedUsbPort&>(rig->port()));
  TempDir dir;
  WriteBytes(dir.File("eeprom.bin"), RandomBytes(61, kEepromImageSize));
  CliRun run;
  {
    const auto start = std::chrono::steady_clock::now();
    CtrlC ctrlC([&] { return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(1500); });
    run = RunTolv({"upload", "--port", "USB", "--sysid", "406", "eeprom=" + dir.File("eeprom.bin")});
    EXPECT_TRUE(ctrlC.pressed());
  }
  EXPECT_EQ(130, run.status) << run.err;
  // Said as what happened: the code's text would speak of a USB wait.
  EXPECT_EQ("Cancelled; upload of EEPROM not completed: stopped by Ctrl-C (code 2114)", run.SummaryLine())
      << run.err;
  // The closes, opens and polls of the retries, many a second, are one line.
  for (const char* line :
       {"Waiting for USB interface\n", "Device opened\n", "Rebooting the receiver, waiting for its loader\n"})
    EXPECT_EQ(run.err.find(line), run.err.rfind(line)) << line << run.err;
  EXPECT_EQ(std::string::npos, run.err.find("Device closed\n")) << run.err;
  EXPECT_FALSE(Comm_Link().isOpen());
  EXPECT_EQ(0, rig->receiver().Stats().uploadRequests);
}

TEST(CliOverUsb, AReceiverThatIsThereButNeverAnswersIsNotCalledAbsent) {
  sim::ReceiverOptions options = FastOptions();
  options.faults.ignoredCommands.set(0x03);  // the download-mode request
  auto rig = SimRig::Usb(TestMemory(1000), options);
  sim::ScopedUsbProvider provider(dynamic_cast<sim::EmulatedUsbPort&>(rig->port()));
  TempDir dir;
  const CliRun run = RunTolv({"download", "--port", "USB", "--timeout", "2", "-o", dir.File("got") + "/"});
  EXPECT_EQ(3, run.status) << run.err;
  EXPECT_NE(
      std::string::npos,
      run.err.find("Gave up after 2 s: the receiver on USB is there but does not answer. Nothing written."))
      << run.err;
  // Only what is true: it never answered, so no word of its loader and no
  // question.
  EXPECT_EQ("The receiver on USB never answered; nothing was fetched.", run.FinalLine());
  EXPECT_EQ(std::string::npos, run.err.find("Reboot the Toppy?")) << run.err;
}

TEST(CliOverUsb, AReceiverHeldByAnotherProgramIsNotCalledSilent) {
  const std::string busy = "the receiver on USB bus 001 device 002: its interface is held by another program";
  Link_SetUsbProvider([&](std::string* diagnostic) -> std::unique_ptr<Transport> {
    *diagnostic = busy;
    return nullptr;
  });
  TempDir dir;
  const CliRun run = RunTolv({"download", "--port", "USB", "--timeout", "1", "-o", dir.File("got") + "/"});
  Link_SetUsbProvider({});
  EXPECT_EQ(3, run.status) << run.err;
  EXPECT_NE(std::string::npos,
            run.err.find("Gave up after 1 s: the receiver on USB is there but cannot be used: " + busy +
                         ". Nothing written.\n"))
      << run.err;
  EXPECT_EQ(std::string::npos, run.err.find("no answer")) << run.err;
}

TEST(CliOverUsb, RebootGivesUpAfterItsTimeout) {
  UsbReceiver usb(TestMemory(1000));
  usb.rig->port().Disconnect();  // nothing on the bus
  const CliRun run = RunTolv({"reboot", "--port", "USB", "--timeout", "1"});
  EXPECT_EQ(3, run.status) << run.err;
  EXPECT_EQ("Not rebooted: Gave up after 1 s: no answer from the receiver on USB.", run.FinalLine())
      << run.err;
  EXPECT_EQ(std::string::npos, run.err.find("Communication has been canceled")) << run.err;
  EXPECT_EQ(0, usb.rig->receiver().Stats().reboots);
}

TEST(CliOverUsb, WhyAReceiverCannotBeUsedIsSaidOnceAndAgainWhenItChanges) {
  // The receiver is there but cannot be used: a reason that two polls give in
  // passing, then one (no permission) until it has been said, then another
  // (the receiver plugged in again, its interface now held by another
  // program) until that has been said too; then Ctrl-C.
  const std::string passing = "cannot open the receiver on USB bus 001 device 002: No such device";
  const std::string noPermission =
      "no permission to use the receiver on USB bus 001 device 003 (install the udev rule "
      "60-tolvpack-toppy.rules, then plug the receiver in again)";
  const std::string busy = "the receiver on USB bus 001 device 004: its interface is held by another program";
  const auto line = [](const std::string& reason) {
    return "Receiver found but not usable: " + reason + ".\n";
  };
  TempDir outputs;
  const auto said = [&](const std::string& reason) {
    return FileText(outputs.File("stderr.txt")).find(line(reason)) != std::string::npos;
  };
  int polls = 0;
  Link_SetUsbProvider([&](std::string* diagnostic) -> std::unique_ptr<Transport> {
    *diagnostic = ++polls <= 2 ? passing : said(noPermission) ? busy : noPermission;
    return nullptr;
  });
  CliRun run;
  {
    CtrlC ctrlC([&] { return said(busy); });
    run = RunTolv({"download", "--port", "USB", "-o", outputs.File("got") + "/"}, outputs);
    EXPECT_TRUE(ctrlC.pressed());
  }
  Link_SetUsbProvider({});
  EXPECT_EQ(130, run.status) << run.err;
  EXPECT_EQ(std::string::npos, run.err.find(passing)) << run.err;
  for (const std::string& reason : {noPermission, busy})
    EXPECT_EQ(run.err.find(line(reason)), run.err.rfind(line(reason))) << run.err;
  EXPECT_LT(run.err.find(line(noPermission)), run.err.find(line(busy))) << run.err;
  EXPECT_EQ("Cancelled; nothing received: stopped by Ctrl-C while waiting for the USB receiver (code 2322)",
            run.SummaryLine());
}

TEST(CliOverview, NamesTheReceiverCommandsToo) {
  const CliRun run = RunTolv({"--help"});
  EXPECT_EQ(0, run.status);
  for (const char* command : {"info", "verify", "convert", "ports", "download", "upload", "reboot"})
    EXPECT_NE(std::string::npos, run.out.find(std::string("\n  ") + command + " ")) << command;
  EXPECT_NE(std::string::npos, run.out.find("talks to the receiver itself, over USB or a serial")) << run.out;
}

}  // namespace
}  // namespace tolv::test
