#include "fake_line.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace tolv::test {

std::vector<uint8_t> FramePacket(bool usb, uint8_t sequence, uint8_t command,
                                 const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> bytes = {'T', 'o', 'F', 'i', sequence, command};
  if (usb) bytes.push_back(static_cast<uint8_t>(payload.size() >> 8));
  bytes.push_back(static_cast<uint8_t>(payload.size()));
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  unsigned sum = 0;
  for (size_t i = 4; i < bytes.size(); ++i) sum += bytes[i];
  bytes.push_back(static_cast<uint8_t>(sum));
  return bytes;
}

WirePacket ParseWritten(bool usb, const std::vector<uint8_t>& bytes) {
  WirePacket packet;
  if (bytes.size() < (usb ? 9u : 8u)) return packet;
  packet.sequence = bytes[4];
  packet.command = bytes[5];
  const size_t length = usb ? (bytes[6] << 8 | bytes[7]) : bytes[6];
  const size_t start = usb ? 8 : 7;
  if (start + length < bytes.size())
    packet.payload.assign(bytes.begin() + start, bytes.begin() + start + length);
  return packet;
}

void FakeLine::Send(const std::vector<uint8_t>& bytes, uint64_t delayMs) {
  uint64_t at = clock.now + delayMs;
  if (!incoming.empty()) at = std::max(at, incoming.back().at);
  incoming.push_back({at, bytes});
}

namespace {

class FakeTransport : public Transport {
 public:
  explicit FakeTransport(std::shared_ptr<FakeLine> line) : line_(std::move(line)) { ++line_->openTransports; }
  ~FakeTransport() override { --line_->openTransports; }

  IoResult Write(const uint8_t* data, int32_t byteCount, int) override {
    if (line_->writeFault) return {IoResult::Status::Fault, 0};
    line_->writes.emplace_back(data, data + byteCount);
    if (line_->onWrite) line_->onWrite(line_->writes.back());
    return {IoResult::Status::Ok, byteCount};
  }

  IoResult Read(uint8_t* dst, int32_t dstCapacity, int timeoutMs) override {
    ++line_->reads;
    if (line_->readFault) return {IoResult::Status::Fault, 0};
    FakeClock& clock = line_->clock;
    auto& queue = line_->incoming;
    if (queue.empty() || queue.front().at > clock.now + static_cast<uint64_t>(timeoutMs)) {
      clock.now += static_cast<uint64_t>(timeoutMs);
      return {line_->usb ? IoResult::Status::Timeout : IoResult::Status::Ok, 0};
    }
    clock.now = std::max(clock.now, queue.front().at);
    std::vector<uint8_t>& bytes = queue.front().bytes;
    const int32_t n = std::min(dstCapacity, static_cast<int32_t>(bytes.size()));
    std::copy_n(bytes.begin(), n, dst);
    if (line_->usb || n == static_cast<int32_t>(bytes.size())) {
      queue.pop_front();
    } else {
      bytes.erase(bytes.begin(), bytes.begin() + n);
    }
    return {IoResult::Status::Ok, n};
  }

  void Purge() override {
    ++line_->purges;
    if (line_->usb) return;
    auto& queue = line_->incoming;
    while (!queue.empty() && queue.front().at <= line_->clock.now) queue.pop_front();
  }

  std::string Description() const override { return line_->usb ? "fake USB" : "fake serial"; }

 private:
  std::shared_ptr<FakeLine> line_;
};

}  // namespace

LinkDevices MakeDevices(const std::shared_ptr<FakeLine>& line) {
  LinkDevices devices;
  devices.openSerial = [line](const std::string& name,
                              std::string* diagnostic) -> std::unique_ptr<Transport> {
    ++line->opens;
    if (line->serialOpenFails) {
      if (diagnostic) *diagnostic = name + ": No such file or directory";
      return nullptr;
    }
    return std::make_unique<FakeTransport>(line);
  };
  devices.pollUsb = [line](std::string* diagnostic) -> std::unique_ptr<Transport> {
    ++line->usbPolls;
    if (line->usbPolls <= line->usbPollsUntilPresent) {
      *diagnostic = line->usbDiagnostic;
      return nullptr;
    }
    ++line->opens;
    return std::make_unique<FakeTransport>(line);
  };
  devices.clock = &line->clock;
  devices.nowText = [] { return std::string("DATE TIME"); };
  return devices;
}

MiniReceiver::MiniReceiver(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {
  line_->onWrite = [this](const std::vector<uint8_t>& bytes) { OnPacket(ParseWritten(line_->usb, bytes)); };
}

void MiniReceiver::Reply(uint8_t command, const std::vector<uint8_t>& payload, bool corrupt) {
  ReplyTo(WirePacket{replySequence, 0, {}}, command, payload, corrupt, replyDelayMs);
}

void MiniReceiver::ReplyTo(const WirePacket& request, uint8_t command, const std::vector<uint8_t>& payload,
                           bool corrupt, uint64_t delayMs) {
  const uint8_t sequence = echoSequence ? request.sequence : replySequence;
  std::vector<uint8_t> bytes = FramePacket(line_->usb, sequence, command, payload);
  // A changed payload byte (or, without payload, checksum) no longer matches the checksum.
  if (corrupt) bytes[bytes.size() > (line_->usb ? 9u : 8u) ? bytes.size() - 2 : bytes.size() - 1] ^= 0x5A;
  if (line_->usb) bytes.resize((bytes.size() + 511) / 512 * 512);  // padded like the receiver's writes
  line_->Send(bytes, delayMs);
}

std::vector<uint8_t> MiniReceiver::ModePayload() const {
  std::vector<uint8_t> payload = {static_cast<uint8_t>(systemId >> 8), static_cast<uint8_t>(systemId)};
  payload.insert(payload.end(), info.begin(), info.end());
  return payload;
}

void MiniReceiver::Announce(uint64_t delayMs) {
  line_->Send(FramePacket(line_->usb, replySequence, 0x01, ModePayload()), delayMs);
}

void MiniReceiver::RequestUpload(uint32_t offset, uint32_t count) {
  uploadOffset_ = offset;
  std::vector<uint8_t> payload;
  if (line_->usb) payload.push_back(static_cast<uint8_t>(count >> 8));
  payload.push_back(static_cast<uint8_t>(count));
  payload.push_back(static_cast<uint8_t>(offset >> 16));
  payload.push_back(static_cast<uint8_t>(offset >> 8));
  payload.push_back(static_cast<uint8_t>(offset));
  ++replySequence;
  Reply(0x04, payload);
}

void MiniReceiver::NextUploadRequest() {
  if (answersUntilStop_ >= 0 && answersUntilStop_-- == 0) return;
  if (!pendingRequests_.empty()) {
    const auto [offset, count] = pendingRequests_.front();
    pendingRequests_.pop_front();
    RequestUpload(offset, count);
    return;
  }
  const uint32_t done = static_cast<uint32_t>(uploaded.size());
  if (done < static_cast<uint32_t>(uploadSize)) {
    RequestUpload(done, std::min<uint32_t>(static_cast<uint32_t>(uploadPiece), uploadSize - done));
  } else {
    Reply(0x06, {});
  }
}

void MiniReceiver::OnPacket(const WirePacket& packet) {
  received.push_back(packet);
  if (silent) return;
  const bool usb = line_->usb;
  const auto modeReply = [&] { ReplyTo(packet, 0x02, ModePayload(), false, replyDelayMs); };
  const auto startUpload = [&] {
    uploaded.clear();
    answersUntilStop_ = -1;
    if (!uploadStopsAfter.empty()) {
      answersUntilStop_ = uploadStopsAfter.front();
      uploadStopsAfter.pop_front();
    }
    pendingRequests_.assign(extraUploadRequests.begin(), extraUploadRequests.end());
    NextUploadRequest();
  };
  if (usb && (packet.command == 0x03 || packet.command == 0x01) && ignoreModeRequests > 0) {
    --ignoreModeRequests;
    return;
  }
  switch (packet.command) {
    case 0x0B:
      if (!usb && announceAfterRebootMs >= 0) Announce(static_cast<uint64_t>(announceAfterRebootMs));
      break;
    case 0x03:
      if (usb) modeReply();
      break;
    case 0x01:  // upload mode on USB
      if (usb) {
        modeReply();
        startUpload();
      }
      break;
    case 0x02:  // upload mode on a serial line
      if (!usb) startUpload();
      break;
    case 0x07: {
      const uint8_t type = packet.payload.empty() ? 0 : packet.payload[0];
      const uint32_t size = sizeOverride >= 0 ? static_cast<uint32_t>(sizeOverride)
                                              : static_cast<uint32_t>(blocks[type].size());
      uint64_t delay = replyDelayMs;
      if (!sizeReplyDelays.empty()) {
        delay = sizeReplyDelays.front();
        sizeReplyDelays.pop_front();
      }
      currentBlock_ = type;
      if (dropSizeReplies > 0) {
        --dropSizeReplies;
        break;
      }
      const bool corrupt = corruptSizeReplies > 0;
      if (corrupt) --corruptSizeReplies;
      ReplyTo(packet, 0x08,
              {static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)},
              corrupt, delay);
      break;
    }
    case 0x04: {
      const std::vector<uint8_t>& p = packet.payload;
      const size_t at = usb ? 2 : 1;
      if (p.size() < at + 3) break;
      const int count = usb ? (p[0] << 8 | p[1]) : p[0];
      const uint32_t offset = static_cast<uint32_t>(p[at] << 16 | p[at + 1] << 8 | p[at + 2]);
      dataRequests.emplace_back(offset, count);
      if (onDataRequest) onDataRequest();
      if (silentData) break;
      if (dropDataReplies > 0) {
        --dropDataReplies;
        break;
      }
      const std::vector<uint8_t>& block = blocks[currentBlock_];
      const size_t from = std::min<size_t>(offset, block.size());
      const size_t to = std::min<size_t>(from + static_cast<size_t>(count), block.size());
      const bool corrupt = corruptDataReplies > 0;
      if (corrupt) --corruptDataReplies;
      std::vector<uint8_t> data(block.begin() + static_cast<long>(from),
                                block.begin() + static_cast<long>(to));
      if (overlongDataReplies > 0) {
        --overlongDataReplies;
        data.push_back(0xEE);
      }
      uint64_t delay = replyDelayMs;
      if (!dataReplyDelays.empty()) {
        delay = dataReplyDelays.front();
        dataReplyDelays.pop_front();
      }
      ReplyTo(packet, 0x05, data, corrupt, delay);
      break;
    }
    case 0x05:
      if (uploaded.size() < uploadOffset_ + packet.payload.size())
        uploaded.resize(uploadOffset_ + packet.payload.size());
      std::copy(packet.payload.begin(), packet.payload.end(), uploaded.begin() + uploadOffset_);
      NextUploadRequest();
      break;
    default: break;
  }
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace tolv::test
