// The model header at the start of a packed flash-format block, as a value
// of its own: read from a block, told apart from the built-in templates, and
// given to the packers for a model that has no built-in template.
//
// A model header is 32 bytes in the big-endian form and 36 bytes in the
// little-endian form of the packed block. Bytes 0 and 1 hold the format magic
// 0x1F1D and bytes 5 and 6 the model's system ID, both in the form's byte
// order; byte 3 balances the header so that bytes 3 to its end add up to 0xFF
// modulo 256. No CRC of the packed block covers the header: the sum is its
// only protection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tolv {

struct ModelHeader {
  std::vector<uint8_t> bytes;  // 32 bytes (big-endian form) or 36 (little-endian form)
  bool littleEndian = false;

  bool operator==(const ModelHeader&) const = default;
};

// The model header a packed block of packedSize bytes begins with: 36 bytes
// when it begins with 1D 1F (the little-endian form), 32 when it begins with
// 1F 1D. Nothing for any other start (such a block carries no model header a
// packer could use) or a block shorter than its header. Never reads outside
// packed.
std::optional<ModelHeader> PackedBlock_ModelHeader(const uint8_t* packed, size_t packedSize);

// The system ID the header names: bytes 5 and 6 in its byte order; 0 for a
// header shorter than 7 bytes.
uint16_t ModelHeader_SystemId(const ModelHeader& header);

// True when the header's sum holds: bytes 3 to its end add up to 0xFF modulo
// 256. Every built-in template passes.
bool ModelHeader_SumHolds(const ModelHeader& header);

// True when a packer can write the header: the length of its form (32 or 36
// bytes), the magic in its byte order and a sum that holds. A header that
// fails is damaged, or is not a model header at all.
bool ModelHeader_Usable(const ModelHeader& header);

// The system ID of the built-in template the header is byte for byte (406,
// 1416, 10446 or 21031; 10446 also serves 10416 and 12406), or nothing.
std::optional<uint16_t> ModelHeader_BuiltInTemplate(const ModelHeader& header);

// True when header is the one a block of systemId carries: the built-in
// template systemId packs with (10416 and 12406 share 10446's), or, for a
// system ID without a template, a header naming systemId in bytes 5 and 6.
bool ModelHeader_FitsSystemId(const ModelHeader& header, uint16_t systemId);

// A model header for systemId made from built-in template 406 (big-endian
// form) or 21031 (little-endian form), with systemId in bytes 5 and 6 and
// byte 3 balancing the sum; usable by the packers. For an emulated receiver
// and for tests: a real receiver of that model may carry other bytes.
ModelHeader ModelHeader_Make(uint16_t systemId, bool littleEndian);

}  // namespace tolv
