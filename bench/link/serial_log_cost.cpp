#include "serial_log_cost.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "fake_line.h"
#include "link/link.h"

namespace tolv::bench {
namespace {

constexpr int32_t kBlockBytes = 65536;
constexpr double kLineBytesPerSecond = 11520.0;

// Each 255-byte chunk costs a 12-byte request and a reply of 8 bytes and the
// data; the block's size is asked and told in 20 bytes.
double LineSeconds(int32_t blockBytes) {
  const int32_t chunks = (blockBytes + 254) / 255;
  return (20.0 + chunks * (12.0 + 8.0) + blockBytes) / kLineBytesPerSecond;
}

}  // namespace

SerialLogCost SerialLogCost_Measure(bool log, int downloads) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tolv-serial-log-cost";
  std::filesystem::create_directories(dir);
  test::FakeClock clock;
  auto line = std::make_shared<test::FakeLine>(clock, false);
  Link link(test::MakeDevices(line));
  test::MiniReceiver receiver(line);
  std::vector<uint8_t>& loader = receiver.blocks[0];
  loader.resize(kBlockBytes);
  for (size_t i = 0; i < loader.size(); ++i) loader[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
  if (log) link.SetLogFile((dir / "TolvPack.log").string());
  if (link.Open("COM1", {}) != 0) throw std::runtime_error("the fake port does not open");
  receiver.Announce(5);
  if (link.DownloadMode() != 0) throw std::runtime_error("no download mode");
  std::vector<uint8_t> buffer(kBlockBytes);
  std::vector<double> seconds;
  for (int run = 0; run < std::max(downloads, 1); ++run) {
    int32_t size = 0;
    const auto start = std::chrono::steady_clock::now();
    if (link.TransferBlock(0, buffer.data(), kBlockBytes, &size) != 0 || size != kBlockBytes)
      throw std::runtime_error("the download failed");
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    line->writes.clear();
  }
  link.End();
  link.Close();
  link.SetLogFile("");
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  std::nth_element(seconds.begin(), seconds.begin() + static_cast<ptrdiff_t>(seconds.size() / 2),
                   seconds.end());
  SerialLogCost cost;
  cost.cpuSeconds = seconds[seconds.size() / 2];
  cost.lineSeconds = LineSeconds(kBlockBytes);
  cost.serialSeconds = cost.cpuSeconds + cost.lineSeconds;
  return cost;
}

}  // namespace tolv::bench
