// The download of one block: the program selects the block (07), the
// receiver answers with its size (08, BE24), and the program asks for the
// block chunk by chunk (04: count and BE24 offset), each answered by a data
// packet (05). A firmware block arrives as sections and is expanded.
//
// The download owns the session's ReplyMatcher, which decides which reply
// answers which request (link/reply_matcher.h); this part does the waiting:
// the time-outs and repeats of each transport, the wait for a free count or
// for the window of the last 07 to pass, and the quiet line after a block
// that failed.
#pragma once

#include <cstdint>
#include <functional>

#include "link/reply_matcher.h"
#include "link/transfer_context.h"

namespace tolv {

class BlockDownload {
 public:
  explicit BlockDownload(const TransferContext& context) : context_(context), channel_(context.channel) {}

  // A new session, with a loader that has just started: no reply to an
  // earlier request can come, and how it numbers its replies is learnt anew.
  // Call after a mode handshake; reads the channel's profile.
  void StartSession();

  // Downloads the block of blockType into buffer (bufferCapacity bytes, 0
  // when buffer is null): *size is set to 0, then to the block's length (a
  // firmware block's expanded length); *transferSize to the size the
  // receiver reported, once it has. Never writes past bufferCapacity. On any
  // failure *size stays 0. Results: 0; kTransferCanceled; kTransferTimeout;
  // kTransferBlockTooLarge (the block or its expansion does not fit the
  // buffer or the work area); kTransferBadBlockData (firmware sections
  // malformed or not decodable).
  int32_t Run(uint8_t blockType, uint8_t* buffer, int32_t bufferCapacity, int32_t* size,
              int32_t* transferSize);

 private:
  int32_t DownloadBlock(uint8_t blockType, uint8_t* buffer, int32_t bufferCapacity, int32_t* size,
                        int32_t* transferSize);
  int32_t RequestBlockSize(uint8_t blockType, uint32_t* blockSize);
  int32_t WaitBlockSize(bool untilQuiet, bool* taken);
  // Hands the block-size reply just received to the matcher, which may learn
  // from it how the receiver numbers its replies; true when it is taken.
  bool OfferBlockSizeReply();
  int32_t FetchChunk(uint8_t* buffer, int32_t offset, int32_t remaining, int32_t* received, double percent);
  void RequestChunk(int32_t offset);
  int32_t WaitChunkUsb(int32_t offset, double percent);
  int32_t WaitChunkSerial(int32_t offset, double percent);
  int32_t ChunkTimedOut(int* timeouts, int32_t offset, double percent);
  bool IsDataPacket() const;
  // Hands the packet just received, when it is a data reply (damaged or not),
  // to the matcher; true when it is taken as the chunk's data.
  bool OfferDataReply();
  ReplyMatcher::Verdict JudgeDataReply();
  void LogLearnt(ReplyMatcher::Numbering before, ReplyMatcher::Numbering after, const char* kind);
  int32_t AwaitReplies(double percent, const std::function<bool()>& done);
  int32_t AwaitQuietLine(double percent);
  int32_t ExpandFirmware(uint8_t* buffer, int32_t blockSize, int32_t bufferCapacity, int32_t* expandedSize);

  TransferContext context_;
  PacketChannel& channel_;
  ReplyMatcher matcher_;  // which replies answer the requests of a download
};

}  // namespace tolv
