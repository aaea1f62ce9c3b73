// A link on a fake line, with a recording callback.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fake_line.h"
#include "link/link.h"

namespace tolv::test {

class LinkTest : public ::testing::Test {
 protected:
  void Make(bool usb) {
    line = std::make_shared<FakeLine>(clock, usb);
    link = std::make_unique<Link>(MakeDevices(line));
    receiver = std::make_unique<MiniReceiver>(line);
  }

  CommCallback Recorder() {
    return [this](uint8_t status, double value) {
      statuses.emplace_back(status, value);
      if (onStatus) onStatus(status, value);
    };
  }

  std::vector<uint8_t> StatusCodes() const {
    std::vector<uint8_t> codes;
    for (const auto& s : statuses) codes.push_back(s.first);
    return codes;
  }

  int CountStatus(uint8_t status) const {
    int n = 0;
    for (const auto& s : statuses) n += s.first == status;
    return n;
  }

  // Every packet the link wrote, parsed.
  std::vector<WirePacket> Written() const {
    std::vector<WirePacket> packets;
    for (const auto& w : line->writes) packets.push_back(ParseWritten(line->usb, w));
    return packets;
  }

  // Opens the link on the fake line and reaches the given mode. Serial: the
  // receiver announces itself first.
  void OpenInMode(bool usb, bool upload) {
    Make(usb);
    ASSERT_EQ(link->Open(usb ? "USB" : "/dev/ttyFAKE", Recorder()), 0);
    if (!usb) receiver->Announce(5);
    ASSERT_EQ(upload ? link->UploadMode() : link->DownloadMode(), 0);
    line->writes.clear();
    receiver->received.clear();
    statuses.clear();
  }

  FakeClock clock;
  std::shared_ptr<FakeLine> line;
  std::unique_ptr<Link> link;
  std::unique_ptr<MiniReceiver> receiver;
  std::vector<std::pair<uint8_t, double>> statuses;
  std::function<void(uint8_t, double)> onStatus;
};

}  // namespace tolv::test
