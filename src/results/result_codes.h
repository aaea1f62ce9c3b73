// Outcome codes of the library layer and their texts.
//
// A result code is a 32-bit signed integer, 0 for success. Other codes are
// three hexadecimal digits: the area (bits 8..11), the operation within it
// (bits 4..7) and the error within the operation (bits 0..3).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tolv {

namespace result {
inline constexpr int32_t kOk = 0;
// TFD files
inline constexpr int32_t kTfdInvalidHeaderLength = 0x0821;  // 2081
inline constexpr int32_t kTfdInvalidHeaderCrc = 0x0822;     // 2082
inline constexpr int32_t kTfdDecompressFailed = 0x0824;     // 2084
inline constexpr int32_t kTfdInvalidDataCrc = 0x0825;       // 2085
inline constexpr int32_t kTfdFileMissing = 0x0826;          // 2086
inline constexpr int32_t kTfdInvalidBlockType = 0x0827;     // 2087, block type 256 or more
inline constexpr int32_t kTfdInvalidBlockLength = 0x0828;   // 2088, block length below 6
inline constexpr int32_t kTfdTruncated = 0x0829;            // 2089, header or block past the end of the file
inline constexpr int32_t kTfdBlocksTooLarge = 0x082A;       // 2090, blocks add up to more than 2^31 - 1 bytes
inline constexpr int32_t kTfdBeyondReceiver = 0x082B;    // 2091, a block or the file beyond a receiver's size
inline constexpr int32_t kTfdImageTooLarge = 0x0831;     // 2097, image longer than the caller's buffer
inline constexpr int32_t kTfdTooManyBlocks = 0x0832;     // 2098, more chunks than one file can count
inline constexpr int32_t kTfdUploadOpenFailed = 0x0841;  // 2113
inline constexpr int32_t kTfdUploadCanceled = 0x0842;    // 2114
inline constexpr int32_t kTfdUploadTimeout = 0x0843;     // 2115
inline constexpr int32_t kTfdUploadWrongModel = 0x0844;  // 2116, receiver of another model: nothing sent
inline constexpr int32_t kTfdBlockTooLarge = 0x0851;     // 2129, TFD_SetBlock of more than 2^31 - 1 bytes
inline constexpr int32_t kTfdBlockNotPresent = 0x0861;   // 2145, returned by TFD_GetBlock; no text of its own
inline constexpr int32_t kTfdBlockNotLoaded = 0x0871;    // 2161
inline constexpr int32_t kTfdDestinationTooSmall = 0x0872;  // 2162, TFD_GetBlock into too small a buffer
// Receiver link
inline constexpr int32_t kOpenSerialFailed = 0x0911;       // 2321
inline constexpr int32_t kOpenUsbCanceled = 0x0912;        // 2322
inline constexpr int32_t kOpenUsbNotFound = 0x0913;        // 2323, unattended USB wait ended
inline constexpr int32_t kRebootNotOpened = 0x0931;        // 2353
inline constexpr int32_t kRebootNotSent = 0x0932;          // 2354, the command could not be written
inline constexpr int32_t kDownloadModeNotOpened = 0x0941;  // 2369
inline constexpr int32_t kDownloadModeCanceled = 0x0942;   // 2370
inline constexpr int32_t kDownloadModeTimeout = 0x0943;    // 2371
inline constexpr int32_t kUploadModeNotOpened = 0x0951;    // 2385
inline constexpr int32_t kUploadModeCanceled = 0x0952;     // 2386
inline constexpr int32_t kUploadModeTimeout = 0x0953;      // 2387
inline constexpr int32_t kTransferNotOpened = 0x0961;      // 2401
inline constexpr int32_t kTransferCanceled = 0x0962;       // 2402
inline constexpr int32_t kTransferTimeout = 0x0963;        // 2403
inline constexpr int32_t kTransferBlockTooLarge = 0x0964;  // 2404
inline constexpr int32_t kTransferBadBlockData = 0x0965;   // 2405
inline constexpr int32_t kTransferBadRequest = 0x0966;     // 2406
inline constexpr int32_t kEndNotOpened = 0x0971;           // 2417
}  // namespace result

// A code with a message of its own.
struct ResultMessage {
  int32_t code;
  const char* text;  // plain ASCII, at most 255 characters
};

// Every code that has a message of its own, in increasing code order.
std::span<const ResultMessage> Result_Table();

// The message of code, or "Unknown Code $XXXX" (upper-case hexadecimal, at
// least four digits; a negative code shows its 32-bit two's complement in
// eight digits). Never empty.
std::string Result_Text(int32_t code);

// Size of the buffer Result_GetText returns, terminating zero included.
inline constexpr size_t kResultTextSize = 256;

// The same text in the shared buffer ResultText (kResultTextSize bytes, the
// rest of it zero), which the next call on the same thread overwrites; callers
// copy it at once. Never null.
const char* Result_GetText(int32_t code);

}  // namespace tolv
