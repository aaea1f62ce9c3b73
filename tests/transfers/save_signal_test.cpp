// Ctrl-C and SIGTERM while tolv writes its outputs: the save under way is
// discarded (or finishes, when it is already replacing files), no temporary
// file stays, and the last lines say which outputs exist. The signal is sent
// the moment the first temporary file appears (inotify), which is the short
// stretch after a download in which the outputs are written.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "child_process.h"
#include "sim_rig.h"
#include "test_support.h"

namespace tolv::test {
namespace {

namespace fs = std::filesystem;

// Sends signal to pid as soon as a file whose name starts with prefix
// appears in dir; false when none appeared within timeoutMs.
bool SignalAtFirstTemporary(const std::string& dir, pid_t pid, int signal, int timeoutMs,
                            const std::string& prefix = ".tolv-save-") {
  const int watch = inotify_init1(IN_CLOEXEC);
  if (watch < 0 || inotify_add_watch(watch, dir.c_str(), IN_CREATE) < 0) return false;
  alignas(inotify_event) char buffer[4096];
  bool sent = false;
  pollfd ready{watch, POLLIN, 0};
  while (!sent && poll(&ready, 1, timeoutMs) == 1) {
    const ssize_t n = read(watch, buffer, sizeof buffer);
    for (ssize_t at = 0; at < n && !sent;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0 && std::string(event->name).starts_with(prefix)) sent = kill(pid, signal) == 0;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  close(watch);
  return sent;
}

size_t EntriesIn(const std::string& dir, const std::string& prefix = "") {
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator(dir))
    count += entry.path().filename().string().starts_with(prefix);
  return count;
}

class SaveSignals : public ::testing::Test {
 protected:
  std::string Text(const std::string& name) {
    const std::vector<uint8_t> bytes = ReadBytes(dir_.File(name));
    return std::string(bytes.begin(), bytes.end());
  }
  TempDir dir_;
};

TEST_F(SaveSignals, CtrlCWhileADownloadIsSavedLeavesNoTemporariesAndSaysWhatWasWritten) {
  fs::create_directories(dir_.File("seed"));
  fs::create_directories(dir_.File("got"));
  WriteBytes(dir_.File("seed/firmware.bin"), RandomBytes(2, 300'000));
  WriteBytes(dir_.File("seed/flash.bin"), DvbSSettings(42));
  ChildProcess sim(BuildBinDir() + "/toppy-sim",
                   {"--baud", "0", "--boot-ms", "100", "--seed", dir_.File("seed")}, dir_.File("sim.err"));
  const std::optional<std::string> port = sim.ReadLine(10000);
  ASSERT_TRUE(port && port->starts_with("/dev/"));
  ChildProcess tolv(BuildBinDir() + "/tolv",
                    {"download", "--port", *port, "-o", dir_.File("got/"), "-o", dir_.File("s.std")},
                    dir_.File("tolv.err"));
  ASSERT_TRUE(SignalAtFirstTemporary(dir_.File("got"), tolv.pid(), SIGINT, 120000)) << Text("tolv.err");
  EXPECT_EQ(tolv.Wait(30000), 130);  // cancelled
  const std::string errors = Text("tolv.err");
  EXPECT_EQ(EntriesIn(dir_.File("got"), ".tolv-"), 0u);
  EXPECT_FALSE(Exists(dir_.File("s.std")));
  // All of the folder or none of it, and the line says which.
  const size_t written = EntriesIn(dir_.File("got"));
  if (written == 0) {
    EXPECT_NE(errors.find("Cancelled while saving. Written: none. Not written: \"-o " + dir_.File("got/") +
                          "\", \"-o " + dir_.File("s.std") + "\"."),
              std::string::npos)
        << errors;
  } else {
    EXPECT_EQ(written, 5u);
    EXPECT_NE(errors.find("Cancelled while saving. Written: \"-o " + dir_.File("got/") + "\"."),
              std::string::npos)
        << errors;
  }
}

TEST_F(SaveSignals, SigtermWhileConvertSavesAFolderLeavesNoTemporaries) {
  // The largest firmware a BIN file may give (8 MiB): its save takes a while.
  WriteBytes(dir_.File("big.bin"), RandomBytes(3, 8 << 20));
  WriteBytes(dir_.File("loader.bin"), RandomBytes(4, 65536));
  fs::create_directories(dir_.File("out"));
  WriteBytes(dir_.File("out/loader.bin"), {1});
  ChildProcess tolv(BuildBinDir() + "/tolv",
                    {"convert", "loader=" + dir_.File("loader.bin"), "firmware=" + dir_.File("big.bin"), "-o",
                     dir_.File("out/"), "-o", dir_.File("x.dmp")},
                    dir_.File("tolv.err"));
  ASSERT_TRUE(SignalAtFirstTemporary(dir_.File("out"), tolv.pid(), SIGTERM, 60000)) << Text("tolv.err");
  EXPECT_EQ(tolv.Wait(60000), 130);  // cancelled
  EXPECT_EQ(EntriesIn(dir_.File("out"), ".tolv-"), 0u);
  const std::string errors = Text("tolv.err");
  if (ReadBytes(dir_.File("out/loader.bin")).size() == 1) {
    EXPECT_FALSE(Exists(dir_.File("out/firmware.bin")));
    EXPECT_NE(errors.find("Cancelled: \"" + dir_.File("out/loader.bin") + "\" and \"" +
                          dir_.File("out/firmware.bin") + "\" were not written."),
              std::string::npos)
        << errors;
  } else {
    EXPECT_EQ(SizeOf(dir_.File("out/firmware.bin")), 48'000'000u);
    EXPECT_NE(errors.find("tolv: cancelled after"), std::string::npos) << errors;
  }
  EXPECT_NE(errors.find("the steps after it were not run."), std::string::npos) << errors;
}

// A request to end while the backup folder is built removes it: no hidden
// folder and no backup stay (or, had the folder already got its name, it
// is complete).
TEST_F(SaveSignals, EndingABackupWhileItsFolderIsBuiltLeavesNothing) {
  fs::create_directories(dir_.File("seed"));
  WriteBytes(dir_.File("seed/flash.bin"), DvbSSettings(42));
  WriteBytes(dir_.File("seed/firmware.bin"), RandomBytes(5, 20'000));
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    fs::create_directories(dir_.File("work"));
    ChildProcess sim(BuildBinDir() + "/toppy-sim",
                     {"--baud", "0", "--boot-ms", "100", "--seed", dir_.File("seed")}, dir_.File("sim.err"));
    const std::optional<std::string> port = sim.ReadLine(10000);
    ASSERT_TRUE(port && port->starts_with("/dev/"));
    ChildProcess tolv(BuildBinDir() + "/tolv",
                      {"backup", "--port", *port, "--no-reboot", dir_.File("work/b")}, dir_.File("tolv.err"));
    ASSERT_TRUE(SignalAtFirstTemporary(dir_.File("work"), tolv.pid(), signal, 60000, ".tolv-backup-"))
        << Text("tolv.err");
    const int status = tolv.Wait(30000).value_or(-1);
    EXPECT_EQ(EntriesIn(dir_.File("work"), ".tolv-"), 0u) << Text("tolv.err");
    if (status == 0) {
      EXPECT_TRUE(Exists(dir_.File("work/b/SHA256SUMS")));
    } else {
      EXPECT_EQ(status, 130);  // cancelled
      EXPECT_FALSE(Exists(dir_.File("work/b")));
      EXPECT_NE(Text("tolv.err").find("Cancelled; no backup was made."), std::string::npos)
          << Text("tolv.err");
    }
    fs::remove_all(dir_.File("work"));
  }
}

}  // namespace
}  // namespace tolv::test
