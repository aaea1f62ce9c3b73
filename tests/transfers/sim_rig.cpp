#include "sim_rig.h"

#include <algorithm>

#include <gtest/gtest.h>
#include "flash/checksums.h"
#include "flash/layout.h"
#include "flash/packing.h"

#include "test_support.h"

namespace tolv::test {

sim::ReceiverOptions FastOptions() {
  sim::ReceiverOptions options;
  options.timing.bootMs = 50;
  options.timing.modeWaitMs = 5000;
  options.timing.sessionIdleMs = 20000;
  options.timing.uploadReplyTimeoutMs = 300;
  return options;
}

std::vector<uint8_t> DvbSSettings(uint32_t seed) {
  // Mostly empty, as settings are, so that they pack into 131,072 bytes.
  std::vector<uint8_t> settings(kFlashImageSize, 0);
  const std::vector<uint8_t> text = Text(60000);
  std::copy(text.begin(), text.end(), settings.begin());
  const std::vector<uint8_t> noise = RandomBytes(seed, 4096);
  std::copy(noise.begin(), noise.end(), settings.begin() + 0x30000);
  // The layout is told by the words at the start of section 5: W0 != FFFF,
  // W1 == FFFF, W2 != FFFF.
  const uint32_t at = Layout_Sections(kLayoutDvbS).start[5];
  const uint8_t marker[6] = {0x12, 0x34, 0xFF, 0xFF, 0x56, 0x78};
  std::copy(marker, marker + 6, settings.begin() + at);
  // A sound receiver's sections hold their checksums.
  Flash_WriteSectionChecksums(settings.data(), settings.size(), Layout_Sections(kLayoutDvbS));
  return settings;
}

std::vector<uint8_t> TestDefaultEeprom() { return RandomBytes(26, sim::kSimEepromSize); }

namespace {

// The packed settings and defaults of every test memory: the same each time,
// so packed once.
const std::vector<uint8_t>& TestPackedFlash() {
  static const std::vector<uint8_t> packed = [] {
    const std::vector<uint8_t> settings = DvbSSettings(25);
    std::vector<uint8_t> block(kPackedBlockSize, 0);
    EXPECT_TRUE(PackFlashData(406, settings.data(), block.data()));
    return block;
  }();
  return packed;
}

const std::vector<uint8_t>& TestPackedDefaults() {
  static const std::vector<uint8_t> packed = [] {
    std::vector<uint8_t> defaults(sim::kSimDefaultsImageSize, 0);
    const std::vector<uint8_t> text = Text(50000);
    std::copy(text.begin(), text.end(), defaults.begin() + 0x1000);
    const std::vector<uint8_t> defaultEeprom = TestDefaultEeprom();
    std::copy(defaultEeprom.begin(), defaultEeprom.end(), defaults.begin() + sim::kSimDefaultsEepromOffset);
    std::vector<uint8_t> block(kPackedBlockSize, 0);
    EXPECT_TRUE(PackDefaultsData(406, defaults.data(), defaults.data() + sim::kSimDefaultsEepromOffset,
                                 block.data()));
    return block;
  }();
  return packed;
}

}  // namespace

sim::ReceiverMemory TestMemory(size_t firmwareSize) {
  // Every component is set here, so the memory starts empty rather than from
  // the emulator's built-in contents.
  sim::ReceiverMemory memory;
  memory.systemId = 406;
  memory.loader = RandomBytes(21, sim::kSimLoaderSize);
  memory.firmware = Text(firmwareSize / 2);
  const std::vector<uint8_t> noise = RandomBytes(22, firmwareSize - firmwareSize / 2);
  memory.firmware.insert(memory.firmware.end(), noise.begin(), noise.end());
  memory.eeprom = RandomBytes(23, sim::kSimEepromSize);
  memory.background = RandomBytes(24, sim::kSimBackgroundSize);
  memory.packedFlash = TestPackedFlash();
  memory.packedDefaults = TestPackedDefaults();
  return memory;
}

std::unique_ptr<SimRig> SimRig::Usb(sim::ReceiverMemory memory, sim::ReceiverOptions options,
                                    uint32_t bytesPerSecond) {
  std::unique_ptr<SimRig> rig(new SimRig);
  auto port = std::make_unique<sim::EmulatedUsbPort>(bytesPerSecond);
  LinkDevices devices;
  devices.pollUsb = port->Provider();
  rig->sim_ =
      std::make_unique<sim::SimulatedReceiver>(std::move(port), std::move(memory), std::move(options));
  rig->link_ = std::make_unique<Link>(devices);
  rig->portName_ = "USB";
  return rig;
}

std::unique_ptr<SimRig> SimRig::Serial(sim::ReceiverMemory memory, sim::ReceiverOptions options,
                                       uint32_t bytesPerSecond) {
  std::unique_ptr<SimRig> rig(new SimRig);
  auto port = std::make_unique<sim::PtyReceiverPort>(bytesPerSecond);
  rig->portName_ = port->SlavePath();
  rig->sim_ =
      std::make_unique<sim::SimulatedReceiver>(std::move(port), std::move(memory), std::move(options));
  rig->link_ = std::make_unique<Link>();
  return rig;
}

TransferHooks ProgressWatcher::Hooks() {
  TransferHooks hooks;
  hooks.progress = [this](uint8_t status, double value) {
    statuses.push_back(status);
    values.push_back(value);
    if (cancelWhen && link && cancelWhen(status, value)) {
      cancelWhen = nullptr;
      link->Cancel();
    }
  };
  hooks.statusLine = [this](const std::string& text) { statusLines.push_back(text); };
  return hooks;
}

int ProgressWatcher::Count(uint8_t status) const {
  return static_cast<int>(std::count(statuses.begin(), statuses.end(), status));
}

DownloadRequest MakeDownload(const SimRig& rig, ComponentSelection selection) {
  DownloadRequest request;
  request.port = rig.portName();
  request.selection = selection;
  request.reportFailures = false;
  return request;
}

UploadRequest MakeUpload(const SimRig& rig, ComponentSelection selection) {
  UploadRequest request;
  request.port = rig.portName();
  request.selection = selection;
  request.reportFailures = false;
  return request;
}

ComponentSelection AllComponents() {
  ComponentSelection selection;
  selection.fill(true);
  return selection;
}

ComponentSelection Only(std::initializer_list<ComponentKind> kinds) {
  ComponentSelection selection{};
  for (ComponentKind kind : kinds) selection[static_cast<size_t>(kind)] = true;
  return selection;
}

std::vector<uint8_t> Unpacked(const std::vector<uint8_t>& packed, size_t size) {
  std::vector<uint8_t> image(size, 0);
  UnPackFlashData(packed.data(), packed.size(), image.data(), image.size());
  return image;
}

}  // namespace tolv::test
