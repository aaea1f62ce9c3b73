// Model headers of the packed flash-format block and the built-in model names.
#include <algorithm>
#include <numeric>
#include <optional>
#include <span>

#include "flash/model_header.h"
#include "flash/model_header_internal.h"
#include "flash/model_list.h"
#include "flash/packing.h"

namespace tolv {
namespace {

// The header templates. Bytes 0-1 are the magic 0x1F1D and bytes 5-6 the
// template's system ID, both in the form's byte order; bytes 3 to the end add
// up to 0xFF modulo 256.
constexpr uint8_t kTemplate406[32] = {0x1F, 0x1D, 0x1D, 0xFF, 0x01, 0x01, 0x96, 0x06, 0x00, 0x00, 0x00,
                                      0x8F, 0x22, 0x1E, 0xD0, 0x90, 0x0F, 0x04, 0x00, 0x88, 0x10, 0x13,
                                      0xFF, 0x0B, 0xB8, 0x0D, 0xAC, 0x05, 0xDC, 0x00, 0x17, 0x02};
constexpr uint8_t kTemplate1416[32] = {0x1F, 0x1D, 0x1D, 0x09, 0x01, 0x05, 0x88, 0x06, 0x00, 0x00, 0x00,
                                       0x8F, 0x22, 0x1E, 0xD0, 0x90, 0x0F, 0x04, 0x00, 0x88, 0x10, 0x13,
                                       0xFF, 0x0B, 0xB8, 0x0D, 0xAC, 0x05, 0xDC, 0x00, 0x17, 0x02};
constexpr uint8_t kTemplate10446[32] = {0x1F, 0x1D, 0x1D, 0xA0, 0x01, 0x28, 0xCE, 0x06, 0x00, 0x00, 0x00,
                                        0x8F, 0x22, 0x1E, 0xD0, 0x90, 0x0F, 0x04, 0x00, 0x88, 0x10, 0x13,
                                        0xFF, 0x0B, 0xB8, 0x0D, 0xAC, 0x05, 0xDC, 0x00, 0x17, 0x02};
// The one little-endian model: magic and system ID least significant byte first.
constexpr uint8_t kTemplate21031[36] = {0x1D, 0x1F, 0x1D, 0xB7, 0x01, 0x27, 0x52, 0x0C, 0x00,
                                        0x00, 0x00, 0xFF, 0xF2, 0xFF, 0xFF, 0xFF, 0x22, 0xF2,
                                        0x06, 0x03, 0x38, 0x02, 0x24, 0x08, 0x01, 0x62, 0x78,
                                        0x0B, 0xB8, 0xAC, 0x0D, 0x05, 0xDC, 0x17, 0x00, 0x02};

struct KnownModel {
  uint16_t systemId;
  std::span<const uint8_t> headerTemplate;  // empty: cannot be packed
  bool littleEndian;
  const char* builtInName;  // nullptr: the name text is left as it is
};

constexpr KnownModel kKnownModels[] = {
    {406, kTemplate406, false, "TF5000 (EUR)"},
    {416, {}, false, "TF5000t (EUR & AUS)"},
    {436, {}, false, "TF5010/TF5510"},
    {446, {}, false, "TF5000 Black Panther / White Polar"},
    {456, {}, false, "TF5800t MHEG"},
    {466, {}, false, "TF5000t Black Panther / White Polar (AUS)"},
    {486, {}, false, "TF5010 Black Panther / White Polar"},
    {501, {}, false, "TF5000CI (ME)"},
    {1416, kTemplate1416, false, nullptr},
    {1426, {}, false, "TF5000t Masterpiece (AUS)"},
    {1456, {}, false, "TF5010 Masterpiece"},
    {1466, {}, false, "TF5100t Masterpiece"},
    {1486, {}, false, "TF5100c Masterpiece"},
    {1501, {}, false, "TF5000CI (EUR)"},
    {1505, {}, false, "TF5000FE"},
    {2416, {}, false, "TF6000"},
    {5501, {}, false, "TF5050CI"},
    {10416, kTemplate10446, false, "Procaster 5101C (Finnish Toppy clone)"},
    {10426, {}, false, "Procaster 5101T (Finnish Toppy clone)"},
    {10446, kTemplate10446, false, "TF5200c"},
    {12406, kTemplate10446, false, "TF5100c"},
    {13406, {}, false, "TF5100"},
    {21031, kTemplate21031, true, "TF606CI"},
    {30002, {}, false, "TF6000t"},
    {39321, {}, false, "Wildcard (can be transferred to any Toppy)"},
    {50000, {}, false, "TF6000F (ME)"},
    {50001, {}, false, "TF6500F (ME)"},
    {50002, {}, false, "TF6000FE"},
};

const KnownModel* FindKnownModel(uint16_t systemId) {
  for (const KnownModel& model : kKnownModels) {
    if (model.systemId == systemId) return &model;
  }
  return nullptr;
}

// The header's fields: magic at 0, the sum's balancing byte at 3, the system
// ID at 5, each 16-bit field in the form's byte order.
constexpr size_t kBigEndianLength = 32;
constexpr size_t kLittleEndianLength = 36;
constexpr size_t kSumFrom = 3;
constexpr size_t kSystemIdAt = 5;

size_t LengthOfForm(bool littleEndian) { return littleEndian ? kLittleEndianLength : kBigEndianLength; }

uint8_t SumFrom(const std::vector<uint8_t>& bytes, size_t from) {
  return static_cast<uint8_t>(
      std::accumulate(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(), 0u));
}

}  // namespace

std::optional<ModelHeader> PackedBlock_ModelHeader(const uint8_t* packed, size_t packedSize) {
  // The magic 0x1F1D, least significant byte first in the little-endian form.
  if (packedSize < 2) return std::nullopt;
  const bool littleEndian = packed[0] == 0x1D && packed[1] == 0x1F;
  if (!littleEndian && !(packed[0] == 0x1F && packed[1] == 0x1D)) return std::nullopt;
  const size_t length = LengthOfForm(littleEndian);
  if (packedSize < length) return std::nullopt;
  return ModelHeader{std::vector<uint8_t>(packed, packed + length), littleEndian};
}

uint16_t ModelHeader_SystemId(const ModelHeader& header) {
  if (header.bytes.size() < kSystemIdAt + 2) return 0;
  const uint8_t first = header.bytes[kSystemIdAt];
  const uint8_t second = header.bytes[kSystemIdAt + 1];
  return static_cast<uint16_t>(header.littleEndian ? first | second << 8 : first << 8 | second);
}

bool ModelHeader_SumHolds(const ModelHeader& header) {
  return header.bytes.size() > kSumFrom && SumFrom(header.bytes, kSumFrom) == 0xFF;
}

bool ModelHeader_Usable(const ModelHeader& header) {
  if (header.bytes.size() != LengthOfForm(header.littleEndian)) return false;
  const std::optional<ModelHeader> read = PackedBlock_ModelHeader(header.bytes.data(), header.bytes.size());
  return read && read->littleEndian == header.littleEndian && ModelHeader_SumHolds(header);
}

std::optional<uint16_t> ModelHeader_BuiltInTemplate(const ModelHeader& header) {
  for (uint16_t templateId : {406, 1416, 10446, 21031}) {
    const std::span<const uint8_t> bytes = FindKnownModel(templateId)->headerTemplate;
    if (std::equal(bytes.begin(), bytes.end(), header.bytes.begin(), header.bytes.end())) return templateId;
  }
  return std::nullopt;
}

ModelHeader ModelHeader_Make(uint16_t systemId, bool littleEndian) {
  const std::span<const uint8_t> base = FindKnownModel(littleEndian ? 21031 : 406)->headerTemplate;
  ModelHeader header{std::vector<uint8_t>(base.begin(), base.end()), littleEndian};
  const uint8_t high = static_cast<uint8_t>(systemId >> 8);
  const uint8_t low = static_cast<uint8_t>(systemId);
  header.bytes[kSystemIdAt] = littleEndian ? low : high;
  header.bytes[kSystemIdAt + 1] = littleEndian ? high : low;
  // Byte 3 balances the sum of bytes 3 to the end to 0xFF.
  header.bytes[kSumFrom] = static_cast<uint8_t>(0xFF - SumFrom(header.bytes, kSumFrom + 1));
  return header;
}

namespace packed {

std::optional<HeaderTemplate> HeaderTemplateOf(uint16_t systemId) {
  const KnownModel* model = FindKnownModel(systemId);
  if (model == nullptr || model->headerTemplate.empty()) return std::nullopt;
  return HeaderTemplate{model->headerTemplate, model->littleEndian};
}

std::optional<HeaderTemplate> HeaderForPacking(uint16_t systemId, const ModelHeader* ownHeader) {
  if (std::optional<HeaderTemplate> builtIn = HeaderTemplateOf(systemId)) return builtIn;
  if (ownHeader == nullptr || !ModelHeader_Usable(*ownHeader)) return std::nullopt;
  return HeaderTemplate{ownHeader->bytes, ownHeader->littleEndian};
}

void SetBuiltInModelName(uint16_t systemId) {
  const KnownModel* model = FindKnownModel(systemId);
  if (model != nullptr && model->builtInName != nullptr) Model_SetNameText(model->builtInName);
}

}  // namespace packed

void Flash_WriteModelHeader(uint16_t systemId, uint8_t* packed, int32_t& headerLength, bool& littleEndian) {
  headerLength = 0;
  if (const std::optional<packed::HeaderTemplate> header = packed::HeaderTemplateOf(systemId)) {
    std::copy(header->bytes.begin(), header->bytes.end(), packed);
    headerLength = static_cast<int32_t>(header->bytes.size());
    littleEndian = header->littleEndian;
  }
  packed::SetBuiltInModelName(systemId);
}

bool ModelHeader_FitsSystemId(const ModelHeader& header, uint16_t systemId) {
  const std::optional<packed::HeaderTemplate> builtIn = packed::HeaderTemplateOf(systemId);
  if (!builtIn) return ModelHeader_SystemId(header) == systemId;
  return header.littleEndian == builtIn->littleEndian &&
         std::equal(header.bytes.begin(), header.bytes.end(), builtIn->bytes.begin(), builtIn->bytes.end());
}

bool Flash_HasModelHeader(uint16_t systemId) { return packed::HeaderTemplateOf(systemId).has_value(); }

bool PackedBlock_IsLittleEndian(const uint8_t* packed, size_t packedSize) {
  // The magic 0x1F1D stored least significant byte first.
  return packedSize >= 2 && packed[0] == 0x1D && packed[1] == 0x1F;
}

}  // namespace tolv
