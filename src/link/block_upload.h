// The upload of one block: the receiver asks for pieces of it (04: count and
// BE24 offset), each answered with the data (05), and reports the block
// complete with 06.
#pragma once

#include <cstdint>

#include "link/transfer_context.h"

namespace tolv {

// Serves the receiver's requests for the dataSize bytes at data until it
// reports the block complete; data is only read. Pieces past the end of the
// data, within kUploadAreaSize, are served as zeros. Status 6 with the share
// asked for so far on every pass of the wait. Results: 0; kTransferCanceled;
// kTransferTimeout (a fault of the port, or no request for 10 s);
// kTransferBadRequest (a request beyond kUploadAreaSize or larger than a
// packet).
int32_t Upload_Block(const TransferContext& context, const uint8_t* data, int32_t dataSize);

}  // namespace tolv
