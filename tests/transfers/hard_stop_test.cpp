// tolv ended by a signal in the middle of a download, from a toppy-sim on a
// pseudo-terminal: the next tolv opens the same port and downloads from it.
// (A pseudo-terminal keeps the exclusive mark of a killed holder for as long
// as the emulator lives.)
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

#include "child_process.h"
#include "cli/transfer_console.h"
#include "link/transport.h"
#include "test_support.h"

namespace tolv::test {
namespace {

class HardStopOfTolv : public ::testing::Test {
 protected:
  // The emulator on a slow line (960 bytes per second), so that a download
  // is still running when it is interrupted.
  void SetUp() override {
    sim_ = std::make_unique<ChildProcess>(BuildBinDir() + "/toppy-sim",
                                          std::vector<std::string>{"--baud", "9600", "--boot-ms", "100"},
                                          dir_.File("sim.err"));
    port_ = sim_->ReadLine(10000).value_or("");
    ASSERT_TRUE(port_.starts_with("/dev/")) << Text("sim.err");
  }

  std::string Text(const std::string& name) const {
    const std::vector<uint8_t> bytes =
        Exists(dir_.File(name)) ? ReadBytes(dir_.File(name)) : std::vector<uint8_t>{};
    return std::string(bytes.begin(), bytes.end());
  }

  // Starts a loader download and waits until its transfer runs.
  std::unique_ptr<ChildProcess> StartDownload() {
    auto tolv = std::make_unique<ChildProcess>(
        BuildBinDir() + "/tolv",
        std::vector<std::string>{"download", "--port", port_, "--only", "loader", "-o", dir_.File("got/")},
        dir_.File("tolv.err"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Text("tolv.err").find("Transfer of block 0 started") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(std::string::npos, Text("tolv.err").find("Transfer of block 0 started")) << Text("tolv.err");
    return tolv;
  }

  // The next tolv on the same port: a whole download of the EEPROM.
  void ExpectTheNextDownloadWorks() {
    const ProgramRun next = RunProgram(BuildBinDir() + "/tolv",
                                       "download --port " + port_ + " --only eeprom -o next/", dir_.path());
    EXPECT_EQ(0, next.status) << next.err;
    EXPECT_EQ(std::string::npos, next.err.find("Failed to open serial port")) << next.err;
    EXPECT_TRUE(Exists(dir_.File("next/eeprom.bin")));
  }

  TempDir dir_;
  std::unique_ptr<ChildProcess> sim_;
  std::string port_;
};

TEST_F(HardStopOfTolv, TheNextRunOpensThePortAfterSigtermOrSighup) {
  for (const int signal : {SIGTERM, SIGHUP}) {
    std::unique_ptr<ChildProcess> tolv = StartDownload();
    tolv->Signal(signal);
    EXPECT_EQ(-signal, tolv->Wait(10000)) << strsignal(signal);
    ExpectTheNextDownloadWorks();
  }
}

TEST_F(HardStopOfTolv, TheNextRunOpensThePortAfterASecondCtrlC) {
  std::unique_ptr<ChildProcess> tolv = StartDownload();
  tolv->Signal(SIGINT);
  // The second press after the first one has been taken, while the cancel
  // runs; the link may or may not have let go of the port by then.
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  tolv->Signal(SIGINT);
  const std::optional<int> status = tolv->Wait(10000);
  EXPECT_TRUE(status == -SIGINT || status == 1) << Text("tolv.err");
  ExpectTheNextDownloadWorks();
}

// The second Ctrl-C for certain while the port is held: in a child process
// that holds the emulator's port and presses Ctrl-C twice.
TEST_F(HardStopOfTolv, ASecondCtrlCReleasesThePortBeforeTheProgramEnds) {
  const pid_t pid = fork();
  if (pid == 0) {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    std::unique_ptr<Transport> held = Serial_Open(port_, nullptr);
    cli::InterruptGuard guard;
    raise(SIGINT);  // the first press only asks for a cancel
    if (!held || !cli::InterruptGuard::Requested()) _exit(99);
    raise(SIGINT);
    _exit(98);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  ExpectTheNextDownloadWorks();
}

}  // namespace
}  // namespace tolv::test
