// What a load makes of the checksums of a packed settings or defaults block
// beyond the block CRCs that the unpacker checks.
//
// Each block a load takes must decode to the data length its directory entry
// states and give the data CRC the entry holds: otherwise the image would not
// hold what was packed (a chunk whose size field lies shifts every byte after
// it), and the block is refused. The chunk CRCs and the block header's own
// CRC guard nothing more once the data CRC holds: a wrong one is named and the
// block is taken all the same. Entries and chunks are numbered from 0, as
// "tolv verify" numbers them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tolv {

struct PackedLoadFindings {
  // Why the block must not be taken, naming the entry and, where one can be
  // told, the chunk ("entry 3, chunk 0: the data fail their data CRC (stored
  // 0x1234, computed 0x5678)"); empty when it may be taken.
  std::string refusal;
  // Checksums that are wrong over data that pass their data CRC, one text each
  // ("entry 3 chunk 0 CRC (stored 0x1234, computed 0x5678)").
  std::vector<std::string> wrongChecksums;

  bool Refused() const { return !refusal.empty(); }
};

// Checks the directory entries of the packed block (packedSize bytes) given
// by index: those a load takes (the ones UnPackFlashData unpacked, and the
// defaults' EEPROM entry). Entries the directory does not hold and unused
// entries are passed over. The first refused entry ends the check. Reads
// nothing outside packed; decodes the chunks of each entry once.
PackedLoadFindings PackedBlock_CheckForLoad(const uint8_t* packed, size_t packedSize,
                                            const std::vector<int>& entries);

// The message of a packed block that is not taken: unpackFailed (the load's
// own text, e.g. "UnPackFlashData failed to unpack the flash block") alone
// when the unpacker refused it, followed by ": " and the refusal when the
// load check did.
std::string PackedLoad_FailureText(const std::string& unpackFailed, const PackedLoadFindings& findings);

// The notice of a block taken with wrong checksums: "The flash block was
// loaded: its data pass their data CRCs, but these checksums of it are wrong:
// entry 3 chunk 0 CRC (stored 0x1234, computed 0x5678)." with blockName
// ("flash block", "defaults block") in front; empty when none is wrong.
std::string PackedLoad_WrongChecksumsText(const std::string& blockName, const PackedLoadFindings& findings);

}  // namespace tolv
