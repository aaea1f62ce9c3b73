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
  // What else a taken block is named for, one sentence each: an unused entry
  // passed over inside the settings, a block named twice, section checksums
  // that do not match, a model header of another model, bytes no entry gave.
  std::vector<std::string> named;

  bool Refused() const { return !refusal.empty(); }
};

// Checks the directory entries of the packed block (packedSize bytes) given
// by index: those a load takes (the ones UnPackFlashData unpacked, and the
// defaults' EEPROM entry). Entries the directory does not hold and unused
// entries are passed over. The first refused entry ends the check. Reads
// nothing outside packed; decodes the chunks of each entry once.
PackedLoadFindings PackedBlock_CheckForLoad(const uint8_t* packed, size_t packedSize,
                                            const std::vector<int>& entries);

// Whether the directory gives the whole settings part (0x60000 bytes) in
// order, walking it as UnPackFlashData does, with the data lengths the load
// check has proven. Named also when an entry's data end inside an 8192-byte
// settings block before the settings are whole, or when an entry after the
// settings are whole names a block below its predecessor's (a reordered
// directory). Refused (naming the entry) when an entry's block lies
// below the previous one before the settings are whole, or the directory ends
// before they are; named when an unused entry is passed over before the end
// (the blocks after it take its place) or an entry names the previous block
// again (its data are taken twice). Leaves findings as they are when the
// block was refused already. Never reads outside packed.
void PackedBlock_CheckCoverage(const uint8_t* packed, size_t packedSize, PackedLoadFindings& findings);

// The directory entries a load reads, in order: those UnPackFlashData walks
// to (unused ones passed over) until the settings are whole or an entry lies
// below the previous one. Entries after them are never read, so their
// checksums judge nothing. Never reads outside packed.
std::vector<int> PackedBlock_EntriesRead(const uint8_t* packed, size_t packedSize);

// Names, in findings, a model header that is not the one a block of
// systemId carries (ModelHeader_FitsSystemId): "the packed block's model
// header is that of SystemID 406, not of 407". Nothing for systemId 0, as a
// flash dump stores none.
void PackedBlock_CheckModelHeader(const uint8_t* packed, size_t packedSize, uint16_t systemId,
                                  PackedLoadFindings& findings);

// Names, in findings, the section checksums of a settings image (size bytes;
// its layout recognised from its own bytes) that do not match, with what
// ("the defaults' section checksums 3 (stored 0x1234, computed 0x5678) do not
// match"). Nothing without a recognised layout.
void Settings_CheckSections(const uint8_t* settings, size_t size, const std::string& what,
                            PackedLoadFindings& findings);

// The notice of a block taken with findings: the wrong-checksums text
// (PackedLoad_WrongChecksumsText) followed by each named sentence; empty when
// there is nothing to name.
std::string PackedLoad_NoticeText(const std::string& blockName, const PackedLoadFindings& findings);

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
