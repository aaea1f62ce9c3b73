// Internal: the header templates and built-in model names behind
// Flash_WriteModelHeader, for the packers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "flash/model_header.h"

namespace tolv::packed {

struct HeaderTemplate {
  std::span<const uint8_t> bytes;  // 32 or 36 bytes
  bool littleEndian;
};

// The template of systemId, or nothing when the system ID cannot be packed.
std::optional<HeaderTemplate> HeaderTemplateOf(uint16_t systemId);

// The header the packers write for systemId: its built-in template when it
// has one (the templates take precedence), else ownHeader when it is given and
// usable (ModelHeader_Usable), else nothing. The result refers to ownHeader's
// bytes, which must outlive it.
std::optional<HeaderTemplate> HeaderForPacking(uint16_t systemId, const ModelHeader* ownHeader);

// Makes the built-in model name of systemId the shared model-name text; IDs
// without a built-in name leave the text as it is.
void SetBuiltInModelName(uint16_t systemId);

}  // namespace tolv::packed
