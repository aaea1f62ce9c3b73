// Receiver transfers through the emulated receiver.
//
// Serial: a download at 115200 baud (11,520 bytes per second on the line).
// Each 255-byte chunk costs a 12-byte request and a 263-byte reply on the
// line, so the ideal payload rate is 255 / 275 * 11,520 = 10,682 bytes per
// second, one chunk every 23.87 ms. of_ideal is the share of it reached over
// the whole run (wall time); of_ideal_median the share reached by the median
// chunk, from its request to the next one's, which a busy machine's stray
// delays do not move (target: at least 0.95). Run with "Log transfer" off
// (log:0) and on (log:1): the log must not slow the line down.
//
// USB: the emulated pipes move each packet at once (no pacing, no sleep in
// the data path), so the figures show what the link and the emulator cost:
// raw blocks, the firmware in compressed sections (expanded by the link),
// and an upload of a TFD image.
//
// Recovery: what one lost or late data reply costs, for each way a receiver
// may number its replies (see BM_FaultCost).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>

#include "link/link.h"
#include "pty_port.h"
#include "receiver.h"
#include "tfd/tfd_store.h"
#include "usb_pipes.h"

namespace {

using namespace tolv;
using namespace tolv::sim;
using Clock = std::chrono::steady_clock;

constexpr double kLineBytesPerSecond = 11520.0;
constexpr double kIdealSerialRate = 255.0 / (12.0 + 263.0) * kLineBytesPerSecond;
constexpr double kIdealSerialChunkMs = (12.0 + 263.0) / kLineBytesPerSecond * 1000.0;

ReceiverOptions BenchOptions() {
  ReceiverOptions options;
  options.timing.bootMs = 100;
  options.timing.sessionIdleMs = 600000;
  return options;
}

// A firmware of byteCount bytes, half compressible, half not.
std::vector<uint8_t> Firmware(size_t byteCount) {
  std::vector<uint8_t> firmware(byteCount);
  uint32_t state = 12345;
  for (size_t i = 0; i < byteCount; ++i) {
    state = state * 1103515245 + 12345;
    firmware[i] = i < byteCount / 2 ? static_cast<uint8_t>("receiver firmware text "[i % 23])
                                    : static_cast<uint8_t>(state >> 16);
  }
  return firmware;
}

// Open, reboot, reopen and ask for the mode until the receiver answers.
bool ReachMode(
    Link& link, const std::string& port, bool upload, const CommCallback& callback = [](uint8_t, double) {}) {
  link.Open(port, callback);
  link.Reboot();
  for (int attempt = 0; attempt < 50; ++attempt) {
    link.Close();
    link.Open(port, callback);
    const int32_t result = upload ? link.UploadMode() : link.DownloadMode();
    if (result == 0) return true;
  }
  return false;
}

// Downloads blockType again and again; bytes received per second of wall time.
void DownloadLoop(benchmark::State& state, Link& link, uint8_t blockType) {
  std::vector<uint8_t> buffer(kFirmwareWorkAreaSize);
  int64_t bytes = 0;
  const auto start = Clock::now();
  for (auto _ : state) {
    int32_t size = 0;
    if (link.TransferBlock(blockType, buffer.data(), static_cast<int32_t>(buffer.size()), &size) != 0) {
      state.SkipWithError("transfer failed");
      break;
    }
    bytes += size;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  link.End();
  link.Close();
  state.SetBytesProcessed(bytes);
  state.counters["payload_Bps"] = static_cast<double>(bytes) / seconds;
  state.counters["MiB_per_s"] = static_cast<double>(bytes) / seconds / (1024.0 * 1024.0);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + static_cast<ptrdiff_t>(values.size() / 2), values.end());
  return values[values.size() / 2];
}

void BM_SerialDownloadAt115200(benchmark::State& state) {
  const bool log = state.range(0) == 1;
  const std::filesystem::path logDir = std::filesystem::temp_directory_path() / "tolv-bench-link-serial";
  std::filesystem::create_directories(logDir);
  auto port = std::make_unique<PtyReceiverPort>(static_cast<uint32_t>(kLineBytesPerSecond));
  const std::string name = port->SlavePath();
  SimulatedReceiver sim(std::move(port), ReceiverMemory::Builtin(406), BenchOptions());
  Link link;
  // Status 6 comes before every chunk's request: the time between two is
  // one chunk's (the first of a block follows the block-size exchange).
  std::vector<double> chunkMs;
  Clock::time_point last{};
  const CommCallback timeChunks = [&](uint8_t status, double) {
    const Clock::time_point now = Clock::now();
    if (status == comm_status::kProgress && last != Clock::time_point{})
      chunkMs.push_back(std::chrono::duration<double, std::milli>(now - last).count());
    last = status == comm_status::kProgress ? now : Clock::time_point{};
  };
  if (log) link.SetLogFile((logDir / "TolvPack.log").string());
  if (!ReachMode(link, name, false, timeChunks)) return state.SkipWithError("no download mode");
  DownloadLoop(state, link, kBlockLoader);
  link.SetLogFile("");
  std::error_code ignored;
  std::filesystem::remove_all(logDir, ignored);
  state.counters["ideal_Bps"] = kIdealSerialRate;
  state.counters["of_ideal"] = state.counters["payload_Bps"].value / kIdealSerialRate;
  const double median = Median(chunkMs);
  state.counters["chunk_ms_median"] = median;
  state.counters["of_ideal_median"] = median > 0 ? kIdealSerialChunkMs / median : 0;
}
BENCHMARK(BM_SerialDownloadAt115200)
    ->ArgName("log")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(2)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

struct UsbReceiver {
  explicit UsbReceiver(ReceiverMemory memory) {
    auto port = std::make_unique<EmulatedUsbPort>();
    LinkDevices devices;
    devices.pollUsb = port->Provider();
    sim = std::make_unique<SimulatedReceiver>(std::move(port), std::move(memory), BenchOptions());
    link = std::make_unique<Link>(devices);
  }
  std::unique_ptr<SimulatedReceiver> sim;
  std::unique_ptr<Link> link;
};

void BM_UsbDownloadRawBlock(benchmark::State& state) {
  UsbReceiver usb(ReceiverMemory::Builtin(406));
  if (!ReachMode(*usb.link, "USB", false)) return state.SkipWithError("no download mode");
  DownloadLoop(state, *usb.link, 5);  // 256 KiB stored as it is
}
BENCHMARK(BM_UsbDownloadRawBlock)->Iterations(40)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_UsbDownloadFirmware4MiB(benchmark::State& state) {
  ReceiverMemory memory = ReceiverMemory::Builtin(406);
  memory.firmware = Firmware(4 * 1024 * 1024);
  UsbReceiver usb(std::move(memory));
  if (!ReachMode(*usb.link, "USB", false)) return state.SkipWithError("no download mode");
  DownloadLoop(state, *usb.link, kBlockFirmware);
}
BENCHMARK(BM_UsbDownloadFirmware4MiB)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_UsbUploadImage4MiB(benchmark::State& state) {
  UsbReceiver usb(ReceiverMemory::Builtin(406));
  TfdStore store;
  const std::vector<uint8_t> firmware = Firmware(4 * 1024 * 1024);
  TFD_SetBlock(store, kBlockFirmware, firmware.data(), firmware.size());
  std::vector<uint8_t> image;
  TFD_BuildImage(store, 406, image);
  int64_t bytes = 0;
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (!ReachMode(*usb.link, "USB", true)) return state.SkipWithError("no upload mode");
    state.ResumeTiming();
    const auto start = Clock::now();
    int32_t size = static_cast<int32_t>(image.size());
    if (usb.link->TransferBlock(2, image.data(), size, &size) != 0)
      return state.SkipWithError("upload failed");
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
    bytes += size;
    state.PauseTiming();
    usb.link->End();
    usb.link->Close();
    usb.sim->receiver().WaitForEvent("image accepted", 10000);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(bytes);
  state.counters["MiB_per_s"] = static_cast<double>(bytes) / seconds / (1024.0 * 1024.0);
}
BENCHMARK(BM_UsbUploadImage4MiB)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Recovery -------------------------------------------------------------------------

// A receiver with its link over a pseudo-terminal (unpaced, as fast as the
// line goes) or the emulated USB pipes.
struct FaultRig {
  FaultRig(bool usb, ReceiverMemory memory, ReceiverOptions options) {
    LinkDevices devices;
    std::unique_ptr<ReceiverPort> port;
    if (usb) {
      auto pipes = std::make_unique<EmulatedUsbPort>();
      devices.pollUsb = pipes->Provider();
      port = std::move(pipes);
      name = "USB";
    } else {
      auto pty = std::make_unique<PtyReceiverPort>(0);
      name = pty->SlavePath();
      port = std::move(pty);
    }
    sim = std::make_unique<SimulatedReceiver>(std::move(port), std::move(memory), std::move(options));
    link = std::make_unique<Link>(devices);
  }
  std::unique_ptr<SimulatedReceiver> sim;
  std::unique_ptr<Link> link;
  std::string name;
};

// Seconds for one firmware download from reaching download mode to the end;
// negative when it failed or brought other bytes than the receiver holds.
double TimedFirmwareDownload(FaultRig& rig, const std::vector<uint8_t>& firmware) {
  if (!ReachMode(*rig.link, rig.name, false)) return -1;
  std::vector<uint8_t> buffer(firmware.size() + 4096);
  int32_t size = 0;
  const auto start = Clock::now();
  const int32_t result =
      rig.link->TransferBlock(kBlockFirmware, buffer.data(), static_cast<int32_t>(buffer.size()), &size);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  rig.link->End();
  rig.link->Close();
  const bool exact = result == 0 && std::equal(firmware.begin(), firmware.end(), buffer.begin()) &&
                     static_cast<size_t>(size) == firmware.size();
  return exact ? seconds : -seconds;
}

// Arguments: transport (0 pseudo-terminal, 1 USB), numbering (ReplyNumbering:
// 0 echo, 1 own, 2 newest, 3 none), fault (0 every fifth data reply lost, 1
// every fifth 450 ms late). The firmware is noise, about 30 chunks on either
// transport; a download from a faultless receiver is the baseline.
// faults_per_download: data replies the receiver lost or sent late, replies
// to repeats included; ms_per_fault: the extra time of a download per fault;
// wrong: downloads that failed or brought wrong bytes (they count in no other
// figure).
void BM_FaultCost(benchmark::State& state) {
  const bool usb = state.range(0) == 1;
  const bool late = state.range(2) == 1;
  ReceiverMemory memory = ReceiverMemory::Builtin(406);
  // Noise: the sections carry it as it is.
  memory.firmware.resize(usb ? 30 * 30000 : 30 * 255);
  uint32_t seed = 777;
  for (uint8_t& byte : memory.firmware) {
    seed = seed * 1103515245 + 12345;
    byte = static_cast<uint8_t>(seed >> 16);
  }
  const std::vector<uint8_t> firmware = memory.firmware;
  ReceiverOptions options = BenchOptions();
  options.faults.numbering = static_cast<ReplyNumbering>(state.range(1));
  FaultRig clean(usb, memory, options);
  const double baseline = TimedFirmwareDownload(clean, firmware);
  if (baseline < 0) return state.SkipWithError("the faultless download failed");
  (late ? options.faults.lateEveryNthData : options.faults.dropEveryNthData) = 5;
  FaultRig faulty(usb, memory, options);
  double seconds = 0;
  int good = 0, wrong = 0;
  for (auto _ : state) {
    const double t = TimedFirmwareDownload(faulty, firmware);
    if (t < 0) {
      ++wrong;
      continue;
    }
    seconds += t;
    ++good;
  }
  const ReceiverStats stats = faulty.sim->receiver().Stats();
  const int faults = late ? stats.lateReplies : stats.droppedReplies;
  const int downloads = good + wrong;
  state.counters["baseline_s"] = baseline;
  state.counters["faults_per_download"] = static_cast<double>(faults) / downloads;
  state.counters["ms_per_fault"] = good > 0 && faults > 0 ? (seconds / good - baseline) * 1000.0 /
                                                                (static_cast<double>(faults) / downloads)
                                                          : 0;
  state.counters["wrong"] = wrong;
}
BENCHMARK(BM_FaultCost)
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3}, {0, 1}})
    ->ArgNames({"usb", "numbering", "late"})
    ->Iterations(3)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
