// What the transfer commands show on a terminal's standard error: progress
// over the whole job, one line for the wait for the loader, the receiver's
// state at the end.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "cli/transfer_console.h"
#include "link/link.h"

namespace tolv::cli {
namespace {

// A display writing plain lines (no terminal) into a temporary file.
class DisplayLines {
 public:
  DisplayLines() : file_(std::tmpfile(), &std::fclose), display(file_.get(), false) {}
  std::string Text() {
    std::fflush(file_.get());
    std::rewind(file_.get());
    std::string text;
    for (int c; (c = std::fgetc(file_.get())) != EOF;) text += static_cast<char>(c);
    return text;
  }

 private:
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;

 public:
  ProgressDisplay display;
};

TEST(ProgressDisplay, GivesBytesAndTheWholeJobOnceEverySizeIsKnown) {
  DisplayLines out;
  out.display.SetJob({1000, 0, 3000});  // the second block's size comes with it
  out.display.OnBlockStarting("Loader", 1000);
  for (double p : {0.0, 50.0, 100.0}) out.display.OnStatus(comm_status::kProgress, p);
  out.display.OnBlockStarting("Firmware", 0);
  out.display.OnTransferSize(6000);
  out.display.OnStatus(comm_status::kProgress, 50);
  out.display.OnBlockStarting("Flash", 3000);
  out.display.OnStatus(comm_status::kProgress, 100);
  const std::string text = out.Text();
  EXPECT_NE(std::string::npos, text.find("Loader: 50% done (500 of 1000 bytes)\n")) << text;
  // 1000 + 3000 of 10000 bytes.
  EXPECT_NE(std::string::npos, text.find("Firmware: 50% done (3000 of 6000 bytes; all: 40%")) << text;
  // The firmware stopped half-way: it counts with what it moved.
  EXPECT_NE(std::string::npos, text.find("Flash: 100% done (3000 of 3000 bytes; all: 70%)\n")) << text;
}

TEST(ProgressDisplay, TheWaitForTheLoaderIsOneLine) {
  DisplayLines out;
  out.display.SetWaitsForLoader(true);
  // A close before any open (the port failed) says nothing.
  out.display.OnStatus(comm_status::kDeviceClosed, 0);
  // Open, reboot, close; then a receiver that takes many tries to answer.
  for (uint8_t status : {1, 1, 2, 8, 1, 1, 2, 8, 1, 2, 8, 1, 2, 3, 5, 7, 8})
    out.display.OnStatus(status, status == 5 ? 4 : 0);
  // A second session (the read-back of a restore) starts over.
  for (uint8_t status : {1, 2, 8, 1, 2, 8, 1, 2, 3}) out.display.OnStatus(status, 0);
  EXPECT_EQ(
      "Waiting for USB interface\nDevice opened\nRebooting the receiver, waiting for its loader\n"
      "Set to download mode\nTransfer of block 4 started\nEnd of communication\nDevice closed\n"
      "Waiting for USB interface\nDevice opened\nRebooting the receiver, waiting for its loader\n"
      "Set to download mode\n",
      out.Text());
}

// After Ctrl-C the link gives up every block at once: none of them is shown
// as started.
TEST(ProgressDisplay, NoBlockStartsAfterACancel) {
  DisplayLines out;
  for (uint8_t status : {2, 3, 5, 9, 5, 6, 5, 6, 7, 8}) out.display.OnStatus(status, status == 5 ? 1 : 0);
  EXPECT_EQ(
      "Device opened\nSet to download mode\nTransfer of block 1 started\nCommunication has been canceled\n"
      "End of communication\nDevice closed\n",
      out.Text());
}

TEST(ReceiverLeft, SaysTheStateAndTheNextStep) {
  EXPECT_EQ("The receiver waits in its loader: run `tolv reboot --port USB`, or switch it off and on.",
            ReceiverLeftText(ReceiverLeftAfter(true, false), "USB"));
  EXPECT_EQ("The receiver restarts now and runs as usual once it has started up.",
            ReceiverLeftText(ReceiverLeftAfter(true, true), "USB"));
  EXPECT_EQ("The receiver was not reached; it is as it was.",
            ReceiverLeftText(ReceiverLeftAfter(false, false), "/dev/ttyUSB0"));
}

}  // namespace
}  // namespace tolv::cli
