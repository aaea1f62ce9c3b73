#include "receiver.h"

#include <algorithm>

namespace tolv::sim {
namespace {

// Commands of the protocol.
constexpr uint8_t kCmdAnnounce = 0x01;      // serial: the loader announces itself
constexpr uint8_t kCmdUsbUpload = 0x01;     // USB: host asks for upload mode
constexpr uint8_t kCmdModeReply = 0x02;     // USB: answer to a mode request
constexpr uint8_t kCmdSerialUpload = 0x02;  // serial: host asks for upload mode
constexpr uint8_t kCmdDownload = 0x03;
constexpr uint8_t kCmdRequestData = 0x04;
constexpr uint8_t kCmdData = 0x05;
constexpr uint8_t kCmdEnd = 0x06;
constexpr uint8_t kCmdSelectBlock = 0x07;
constexpr uint8_t kCmdBlockSize = 0x08;
constexpr uint8_t kCmdReboot = 0x0B;
constexpr uint8_t kCmdText = 0xFF;

constexpr size_t kUsbUploadPiece = 0x8000;
// A held reply goes out this long after the reply that overtook it.
constexpr int kHeldReplyGapMs = 10;
constexpr size_t kMaxUploadImage = 0xFFFFFF;  // offsets are 24 bits

// Line noise of a booting receiver; never contains the magic.
const std::vector<uint8_t> kBootJunk = {0x00, 0xFF, 0x0D, 0x0A, 'B', 'O', 'O', 'T', 0x0D, 0x0A, 0x00};

void PutBE16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

void PutBE24(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 16));
  PutBE16(out, value);
}

uint32_t GetBE(const std::vector<uint8_t>& bytes, size_t at, size_t width) {
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) value = (value << 8) | bytes[at + i];
  return value;
}

}  // namespace

Receiver::Receiver(ReceiverMemory memory, ReceiverOptions options)
    : options_(std::move(options)),
      memory_(std::move(memory)),
      firmwareSections_(Memory_BlockForDownload(memory_, kSimFirmware)),
      dice_(options_.faults.faultSeed, options_.faults.randomFaults) {}

void Receiver::Run(ReceiverPort& port, std::stop_token stop) {
  if (options_.startInLoader) StartLoader(port, stop);
  while (!stop.stop_requested()) {
    switch (CurrentState()) {
      case State::Normal: RunNormal(port, stop); break;
      case State::Loader: RunLoader(port, stop); break;
      case State::Download: RunDownload(port, stop); break;
      case State::Upload: RunUpload(port, stop); break;
      case State::Disconnected: SleepFor(50, stop); break;
    }
  }
}

ReceiverMemory Receiver::MemorySnapshot() const {
  std::lock_guard lock(mutex_);
  return memory_;
}

ReceiverStats Receiver::Stats() const {
  std::lock_guard lock(mutex_);
  return stats_;
}

Receiver::State Receiver::CurrentState() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::vector<std::string> Receiver::Events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

bool Receiver::WaitForEvent(const std::string& text, int timeoutMs) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return std::any_of(events_.begin(), events_.end(),
                       [&](const std::string& e) { return e.find(text) != std::string::npos; });
  });
}

void Receiver::SetEventSink(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
}

void Receiver::Note(const std::string& event) {
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    sink = sink_;
  }
  changed_.notify_all();
  if (sink) sink(event);
}

int Receiver::Count(int ReceiverStats::*counter) {
  std::lock_guard lock(mutex_);
  return ++(stats_.*counter);
}

void Receiver::SetState(State state) {
  {
    std::lock_guard lock(mutex_);
    state_ = state;
  }
  changed_.notify_all();
}

bool Receiver::SleepFor(int ms, const std::stop_token& stop) {
  std::mutex m;
  std::condition_variable_any cv;
  std::unique_lock lock(m);
  cv.wait_for(lock, stop, std::chrono::milliseconds(ms), [] { return false; });
  return !stop.stop_requested();
}

bool Receiver::Ignored(const SimPacket& packet) const {
  return options_.faults.ignoredCommands.test(packet.command);
}

std::vector<uint8_t> Receiver::ModePayload() const {
  std::lock_guard lock(mutex_);
  // SystemID (16 bits), then the 32 information bytes.
  std::vector<uint8_t> payload(2 + memory_.info.size());
  payload[0] = static_cast<uint8_t>(memory_.systemId >> 8);
  payload[1] = static_cast<uint8_t>(memory_.systemId);
  std::copy(memory_.info.begin(), memory_.info.end(), payload.begin() + 2);
  return payload;
}

std::optional<ReplyNumbering> ReplyNumbering_Parse(const std::string& text) {
  if (text == "echo") return ReplyNumbering::Echo;
  if (text == "own") return ReplyNumbering::Own;
  if (text == "newest") return ReplyNumbering::Newest;
  if (text == "none") return ReplyNumbering::None;
  return std::nullopt;
}

uint8_t Receiver::ReplySequence(const SimPacket& request) {
  switch (options_.faults.numbering) {
    case ReplyNumbering::Echo: break;
    case ReplyNumbering::Own: sequence_ = static_cast<uint8_t>(sequence_ + 2); return sequence_;
    case ReplyNumbering::Newest: return newestSeen_;
    case ReplyNumbering::None: return 0;
  }
  return request.sequence;
}

std::optional<SimPacket> Receiver::NextPacket(ReceiverPort& port, SimClock::time_point deadline,
                                              const std::stop_token& stop) {
  for (;;) {
    // Replies due meanwhile go out while the receiver waits.
    SendDue(port, stop);
    if (!backlog_.empty()) {
      SimPacket packet = std::move(backlog_.front());
      backlog_.pop_front();
      return packet;
    }
    const SimClock::time_point until = later_.empty() ? deadline : std::min(deadline, later_.front().due);
    std::optional<SimPacket> packet = port.Receive(until, stop);
    if (packet) {
      newestSeen_ = packet->sequence;
      return packet;
    }
    if (stop.stop_requested() || later_.empty() || SimClock::now() >= deadline) return std::nullopt;
  }
}

void Receiver::SendDue(ReceiverPort& port, const std::stop_token& stop) {
  while (!later_.empty() && later_.front().due <= SimClock::now()) {
    const LaterReply reply = std::move(later_.front());
    later_.pop_front();
    SendLater(port, reply.request, reply.command, reply.body, stop);
  }
}

void Receiver::SendLater(ReceiverPort& port, const SimPacket& request, uint8_t command,
                         const std::vector<uint8_t>& body, const std::stop_token& stop) {
  if (options_.faults.numbering == ReplyNumbering::Newest) TakeInArrivals(port, stop);
  const uint8_t sequence = ReplySequence(request);
  port.Send(
      port.IsUsb() ? EncodeUsbPacket(sequence, command, body) : EncodeSerialPacket(sequence, command, body),
      stop);
}

void Receiver::Repeat(const PacketFate& fate, const SimPacket& request, uint8_t command,
                      const std::vector<uint8_t>& body, int n, const std::vector<uint8_t>& bytes,
                      ReceiverPort& port, const std::stop_token& stop) {
  const FaultSwitches& faults = options_.faults;
  const bool isData = command == kCmdData;
  const auto every = [&](int period) { return isData && period > 0 && n % period == 0; };
  const auto schedule = [&](LaterReply reply) {
    const auto at =
        std::upper_bound(later_.begin(), later_.end(), reply.due,
                         [](SimClock::time_point due, const LaterReply& r) { return due < r.due; });
    later_.insert(at, std::move(reply));
  };
  // A copy at once: the same bytes again.
  if (fate.duplicate || every(faults.duplicateEveryNthData)) {
    Count(&ReceiverStats::duplicatedReplies);
    port.Send(bytes, stop);
  }
  // A copy later, numbered as it goes out.
  if (fate.duplicateLate || every(faults.duplicateLateEveryNthData) ||
      (command == kCmdBlockSize && faults.duplicateSizes)) {
    Count(&ReceiverStats::duplicatedReplies);
    schedule({SimClock::now() + std::chrono::milliseconds(faults.lateMs), request, command, body});
  }
  // A held reply follows the next one, a little after it: by then the host
  // has taken that one and may have asked for the next chunk.
  if (isData && held_) {
    held_->due = SimClock::now() + std::chrono::milliseconds(kHeldReplyGapMs);
    schedule(std::move(*held_));
    held_.reset();
  }
}

void Receiver::TakeInArrivals(ReceiverPort& port, const std::stop_token& stop) {
  // A deadline already past: only what has arrived is read.
  while (std::optional<SimPacket> packet = port.Receive(SimClock::now(), stop)) {
    newestSeen_ = packet->sequence;
    backlog_.push_back(std::move(*packet));
  }
}

bool Receiver::DrawFate(const ReceiverPort& port, uint8_t command, PacketFate& fate) {
  if (command != kCmdBlockSize && command != kCmdData && command != kCmdRequestData) return false;
  const int n = Count(&ReceiverStats::transferPackets);
  fate = dice_.Next(!port.IsUsb());
  // Once: afterwards the cable is out, and what is sent is lost anyway.
  return options_.faults.unplugAfterPackets >= 0 && n == options_.faults.unplugAfterPackets + 1;
}

std::vector<uint8_t> Receiver::DataAsSent(int n, const std::vector<uint8_t>& payload) {
  const int every = options_.faults.garbleEveryNthData;
  if (every <= 0 || n % every != 0 || payload.empty()) return payload;
  // One bit of one byte, in the middle: as a misread memory cell gives it.
  std::vector<uint8_t> garbled = payload;
  garbled[garbled.size() / 2] ^= 0x10;
  Count(&ReceiverStats::garbledReplies);
  return garbled;
}

void Receiver::PullCable(ReceiverPort& port, const std::string& event) {
  Note(event);
  port.Disconnect();
  SetState(State::Disconnected);
}

void Receiver::SendPacket(ReceiverPort& port, uint8_t sequence, uint8_t command,
                          const std::vector<uint8_t>& payload, bool isData, const std::stop_token& stop) {
  Transmit(port, nullptr, sequence, command, payload, isData, stop);
}

void Receiver::SendReply(ReceiverPort& port, const SimPacket& request, uint8_t command,
                         const std::vector<uint8_t>& payload, bool isData, const std::stop_token& stop) {
  Transmit(port, &request, 0, command, payload, isData, stop);
}

void Receiver::Transmit(ReceiverPort& port, const SimPacket* request, uint8_t sequence, uint8_t command,
                        const std::vector<uint8_t>& payload, bool isData, const std::stop_token& stop) {
  const FaultSwitches& faults = options_.faults;
  if (faults.silent) return;
  PacketFate fate;
  if (DrawFate(port, command, fate))
    return PullCable(port, "cable pulled after " + std::to_string(faults.unplugAfterPackets) + " packets");
  const int n = isData ? Count(&ReceiverStats::dataReplies) : 0;
  const auto every = [n](int period) { return period > 0 && n % period == 0; };
  int delayMs = faults.replyDelayMs + fate.slowMs;
  if (fate.late || (isData && every(faults.lateEveryNthData))) {
    Count(&ReceiverStats::lateReplies);
    delayMs += faults.lateMs;
  }
  if (delayMs > 0 && !SleepFor(delayMs, stop)) return;
  // A reply is numbered as it goes out: a receiver stamping the newest number
  // it has seen counts what came in while the reply was delayed.
  if (request && faults.numbering == ReplyNumbering::Newest) TakeInArrivals(port, stop);
  if (request) sequence = ReplySequence(*request);
  const std::vector<uint8_t> body = isData ? DataAsSent(n, payload) : payload;
  std::vector<uint8_t> bytes =
      port.IsUsb() ? EncodeUsbPacket(sequence, command, body) : EncodeSerialPacket(sequence, command, body);
  if (isData && faults.disconnectAfterData >= 0 && n > faults.disconnectAfterData)
    return PullCable(port, "cable pulled after " + std::to_string(n - 1) + " data replies");
  if (fate.drop || (isData && every(faults.dropEveryNthData))) {
    Count(&ReceiverStats::droppedReplies);
    return;
  }
  if (fate.corrupt || (isData && every(faults.corruptEveryNthData))) {
    bytes.back() ^= 0x5A;
    Count(&ReceiverStats::corruptedReplies);
  }
  const int junk = faults.junkBeforeReplies + fate.junkBytes;
  if (!port.IsUsb() && junk > 0) {
    std::vector<uint8_t> noise(static_cast<size_t>(junk));
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = kBootJunk[i % kBootJunk.size()];
    bytes.insert(bytes.begin(), noise.begin(), noise.end());
  }
  // Held: it goes out after the next data reply (one held at a time).
  if (request && isData && !held_ && (fate.overtake || every(faults.overtakeEveryNthData))) {
    Count(&ReceiverStats::heldReplies);
    held_ = LaterReply{SimClock::now(), *request, command, body};
    return;
  }
  port.Send(bytes, stop);
  if (request) Repeat(fate, *request, command, body, n, bytes, port, stop);
}

void Receiver::RunNormal(ReceiverPort& port, const std::stop_token& stop) {
  // Running normally: only the reboot command is heard.
  auto packet = NextPacket(port, SimClock::now() + std::chrono::milliseconds(100), stop);
  if (packet && !Ignored(*packet) && packet->command == kCmdReboot) Reboot(port, stop);
}

void Receiver::Reboot(ReceiverPort& port, const std::stop_token& stop) {
  // Off the line first: whoever sees the reboot counted finds it gone. What
  // was taken in and not yet acted on is gone with it.
  port.BeginReboot();
  backlog_.clear();
  later_.clear();
  held_.reset();
  Count(&ReceiverStats::reboots);
  Note("reboot");
  if (!SleepFor(options_.timing.bootMs, stop)) return;
  port.EndReboot();
  StartLoader(port, stop);
}

void Receiver::StartLoader(ReceiverPort& port, const std::stop_token& stop) {
  loaderDeadline_ = SimClock::now() + std::chrono::milliseconds(options_.timing.modeWaitMs);
  SetState(State::Loader);
  if (port.IsUsb() || options_.faults.silent) return;
  // A serial loader clears its throat, says hello in plain text and announces
  // its SystemID; the host answers with the mode it wants.
  port.Send(kBootJunk, stop);
  const std::string hello = "Loader started\r\n";
  port.Send(EncodeSerialPacket(sequence_, kCmdText, std::vector<uint8_t>(hello.begin(), hello.end())), stop);
  SendPacket(port, sequence_, kCmdAnnounce, ModePayload(), false, stop);
  Note("loader announced");
}

void Receiver::RunLoader(ReceiverPort& port, const std::stop_token& stop) {
  auto packet = NextPacket(port, loaderDeadline_, stop);
  if (!packet) {
    if (!stop.stop_requested() && SimClock::now() >= loaderDeadline_) {
      Note("no mode request; booting normally");
      SetState(State::Normal);
    }
    return;
  }
  if (Ignored(*packet)) return;
  const uint8_t command = packet->command;
  if (command == kCmdReboot) return Reboot(port, stop);
  const bool usb = port.IsUsb();
  const bool download = command == kCmdDownload;
  const bool upload = usb ? command == kCmdUsbUpload : command == kCmdSerialUpload;
  if (!download && !upload) return;
  if (usb) {
    // On USB the loader answers the mode request with its identity.
    if (options_.faults.numbering != ReplyNumbering::Own) sequence_ = packet->sequence;
    SendReply(port, *packet, kCmdModeReply, ModePayload(), false, stop);
  }
  Count(&ReceiverStats::modeReplies);
  Note(download ? "download mode" : "upload mode");
  SetState(download ? State::Download : State::Upload);
}

void Receiver::RunDownload(ReceiverPort& port, const std::stop_token& stop) {
  std::vector<uint8_t> block;
  while (!stop.stop_requested() && CurrentState() == State::Download) {
    auto packet =
        NextPacket(port, SimClock::now() + std::chrono::milliseconds(options_.timing.sessionIdleMs), stop);
    if (!packet) {
      if (stop.stop_requested()) return;
      Note("download session idle; booting normally");
      return SetState(State::Normal);
    }
    if (Ignored(*packet)) continue;
    switch (packet->command) {
      case kCmdSelectBlock: {
        const uint8_t type = packet->payload.empty() ? 0 : packet->payload[0];
        block = [&] {
          std::lock_guard lock(mutex_);
          ++stats_.blockRequests;
          return type == kSimFirmware ? firmwareSections_ : Memory_BlockForDownload(memory_, type);
        }();
        // The reported size may be made wrong; bytes beyond the block read as 0.
        const int64_t reported = std::clamp<int64_t>(
            static_cast<int64_t>(block.size()) + options_.faults.blockSizeDelta, 0, 0xFFFFFF);
        block.resize(static_cast<size_t>(reported), 0);
        Note("block " + std::to_string(type) + ": " + std::to_string(reported) + " bytes");
        std::vector<uint8_t> size;
        PutBE24(size, static_cast<uint32_t>(reported));
        SendReply(port, *packet, kCmdBlockSize, size, false, stop);
        break;
      }
      case kCmdRequestData: ServeData(port, *packet, block, stop); break;
      case kCmdEnd: Note("download session ended"); return SetState(State::Normal);
      case kCmdReboot: return Reboot(port, stop);
      default: break;
    }
  }
}

void Receiver::ServeData(ReceiverPort& port, const SimPacket& request, const std::vector<uint8_t>& block,
                         const std::stop_token& stop) {
  // Request: count (USB 16 bits, serial 8 bits), then the offset in 24 bits.
  const size_t countWidth = port.IsUsb() ? 2 : 1;
  if (request.payload.size() < countWidth + 3) return;
  size_t count = GetBE(request.payload, 0, countWidth);
  if (options_.faults.maxReplyBytes > 0)
    count = std::min(count, static_cast<size_t>(options_.faults.maxReplyBytes));
  const size_t offset = GetBE(request.payload, countWidth, 3);
  Count(&ReceiverStats::dataRequests);
  const size_t from = std::min(offset, block.size());
  const size_t to = std::min(block.size(), from + count);
  const std::vector<uint8_t> data(block.begin() + static_cast<ptrdiff_t>(from),
                                  block.begin() + static_cast<ptrdiff_t>(to));
  SendReply(port, request, kCmdData, data, true, stop);
}

void Receiver::RunUpload(ReceiverPort& port, const std::stop_token& stop) {
  std::vector<uint8_t> image;
  bool complete = false;
  if (options_.faults.uploadPiece > 0) {
    complete = FetchInFixedPieces(port, image, stop);
  } else {
    // The TFD header tells how many blocks follow; each block header tells its
    // length. That is all the receiver needs to ask for the whole image.
    complete = FetchUpload(port, 0, 10, image, stop) && GetBE(image, 0, 2) == 8;
    const size_t blockCount = complete ? GetBE(image, 8, 2) : 0;
    for (size_t i = 0, position = 10; complete && i < blockCount; ++i) {
      complete = FetchUpload(port, position, 8, image, stop);
      const size_t length = complete ? GetBE(image, position, 2) : 0;
      complete = complete && length >= 6 && FetchUpload(port, position + 8, length - 6, image, stop);
      position += length + 2;
    }
  }
  if (stop.stop_requested()) return;
  if (rebootRequested_) {
    rebootRequested_ = false;
    return Reboot(port, stop);
  }
  if (!complete) {
    Note("upload: the image did not come; booting normally");
    return SetState(State::Normal);
  }
  SendPacket(port, sequence_, kCmdEnd, {}, false, stop);
  // Only now is the image checked and taken, all or nothing.
  ReceiverMemory updated = MemorySnapshot();
  const TfdIntake intake = Memory_TakeTfdImage(updated, image, !options_.faults.acceptAnySystemId);
  if (intake.accepted) StoreOneByteWrong(updated, intake);
  std::vector<uint8_t> sections =
      intake.accepted ? Memory_BlockForDownload(updated, kSimFirmware) : firmwareSections_;
  {
    std::lock_guard lock(mutex_);
    firmwareSections_ = std::move(sections);
    if (intake.accepted) memory_ = std::move(updated);
    ++(intake.accepted ? stats_.uploadsAccepted : stats_.uploadsRefused);
  }
  SetState(State::Normal);
  Note("upload: " + intake.verdict);
}

void Receiver::StoreOneByteWrong(ReceiverMemory& memory, const TfdIntake& intake) {
  const int type = options_.faults.storeWrongBlock;
  const std::vector<int>& taken = intake.blockTypesTaken;
  if (std::find(taken.begin(), taken.end(), type) == taken.end()) return;
  std::vector<uint8_t>& stored = memory.Component(type);
  if (stored.empty()) return;
  stored[stored.size() / 2] ^= 0x01;
  Note("upload: block " + std::to_string(type) + " stored with byte " + std::to_string(stored.size() / 2) +
       " wrong");
}

bool Receiver::FetchUpload(ReceiverPort& port, size_t offset, size_t count, std::vector<uint8_t>& image,
                           const std::stop_token& stop) {
  if (offset + count > kMaxUploadImage) return false;
  const size_t piece = port.IsUsb() ? kUsbUploadPiece : kSerialMaxPayload;
  for (size_t done = 0; done < count; done += piece) {
    if (!FetchPiece(port, offset + done, std::min(piece, count - done), image, stop)) return false;
  }
  return true;
}

namespace {

// Length of the TFD image at the start of bytes, from its header and block
// headers; 0 while bytes do not reach far enough to tell.
size_t TfdImageLength(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 10) return 0;
  size_t position = 10;
  for (size_t i = 0, blockCount = GetBE(bytes, 8, 2); i < blockCount; ++i) {
    if (bytes.size() < position + 2) return 0;
    position += GetBE(bytes, position, 2) + 2;
  }
  return position;
}

}  // namespace

bool Receiver::FetchInFixedPieces(ReceiverPort& port, std::vector<uint8_t>& image,
                                  const std::stop_token& stop) {
  // A serial request carries a one-byte count, a USB one a 16-bit count.
  const size_t piece =
      std::min(options_.faults.uploadPiece, port.IsUsb() ? size_t{0xFFFF} : kSerialMaxPayload);
  for (size_t offset = 0;; offset += piece) {
    if (!FetchPiece(port, offset, piece, image, stop)) return false;
    if (image.size() >= 2 && GetBE(image, 0, 2) != 8) return false;  // no TFD header
    const size_t length = TfdImageLength(image);
    if (length > 0 && length <= image.size()) {
      image.resize(length);
      return true;
    }
    if (offset + 2 * piece > kMaxUploadImage) return false;
  }
}

bool Receiver::FetchPiece(ReceiverPort& port, size_t offset, size_t count, std::vector<uint8_t>& image,
                          const std::stop_token& stop) {
  const uint8_t sequence = ++sequence_;
  std::vector<uint8_t> request;
  if (port.IsUsb()) {
    PutBE16(request, static_cast<uint32_t>(count));
  } else {
    request.push_back(static_cast<uint8_t>(count));
  }
  PutBE24(request, static_cast<uint32_t>(offset));
  for (int attempt = 0; attempt < options_.timing.uploadRequestTries; ++attempt) {
    Count(&ReceiverStats::uploadRequests);
    SendPacket(port, sequence, kCmdRequestData, request, false, stop);
    const auto deadline = SimClock::now() + std::chrono::milliseconds(options_.timing.uploadReplyTimeoutMs);
    while (auto packet = NextPacket(port, deadline, stop)) {
      if (Ignored(*packet)) continue;
      if (packet->command == kCmdReboot) {
        rebootRequested_ = true;
        return false;
      }
      // Only the answer to this very request counts; late answers are stale.
      if (packet->command != kCmdData || packet->sequence != sequence || packet->payload.size() != count)
        continue;
      if (image.size() < offset + count) image.resize(offset + count);
      std::copy(packet->payload.begin(), packet->payload.end(),
                image.begin() + static_cast<ptrdiff_t>(offset));
      return true;
    }
    if (stop.stop_requested()) return false;
  }
  Note("upload: no answer for offset " + std::to_string(offset));
  return false;
}

SimulatedReceiver::SimulatedReceiver(std::unique_ptr<ReceiverPort> port, ReceiverMemory memory,
                                     ReceiverOptions options)
    : port_(std::move(port)), receiver_(std::move(memory), std::move(options)) {
  thread_ = std::jthread([this](std::stop_token stop) { receiver_.Run(*port_, stop); });
}

SimulatedReceiver::~SimulatedReceiver() { Stop(); }

void SimulatedReceiver::Stop() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
}

}  // namespace tolv::sim
