// The workspace: the one in-memory set of a receiver's six memory images with
// their presence flags, the system ID and the recognised settings layout.
// Every file form and every receiver transfer converts between the workspace
// and the outside; the window shows its state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "flash/layout.h"
#include "flash/model_header.h"
#include "flash/packing.h"

namespace tolv {

// The six components. The numbers are also TFD block slot numbers and the
// block types of receiver transfers.
enum class ComponentKind : uint8_t {
  Loader = 0,
  Firmware = 1,
  Flash = 2,
  Eeprom = 3,
  Defaults = 4,
  Background = 5
};
inline constexpr int kComponentCount = 6;
inline constexpr std::array<ComponentKind, kComponentCount> kAllComponents = {
    ComponentKind::Loader, ComponentKind::Firmware, ComponentKind::Flash,
    ComponentKind::Eeprom, ComponentKind::Defaults, ComponentKind::Background};

inline constexpr size_t kLoaderImageSize = 0x10000;      // 65,536
inline constexpr size_t kDefaultsImageSize = 0x80100;    // 524,544: settings, EEPROM at 0x60000, carried rest
inline constexpr size_t kBackgroundImageSize = 0x40000;  // 262,144
inline constexpr size_t kDefaultsEepromOffset = 0x60000;  // default EEPROM inside the Defaults image

// Fixed image size of kind; 0 for the Firmware, whose size is that of the last
// firmware loaded.
size_t ComponentImageSize(ComponentKind kind);

// "Loader", "Firmware", "Flash", "EEPROM", "Defaults", "Background".
const char* ComponentName(ComponentKind kind);

// The model header of a packed settings or defaults block that was taken in,
// with the SystemID it came for (see Workspace_KeepModelHeader).
struct KeptModelHeader {
  ModelHeader header;
  uint16_t systemId = 0;
};

struct Workspace {
  // Every image zero-filled at its fixed size, the Firmware empty, every flag
  // false, system ID 0, no layout.
  Workspace();

  std::vector<uint8_t>& Image(ComponentKind kind) { return images[static_cast<size_t>(kind)]; }
  const std::vector<uint8_t>& Image(ComponentKind kind) const { return images[static_cast<size_t>(kind)]; }
  bool& Present(ComponentKind kind) { return present[static_cast<size_t>(kind)]; }
  bool Present(ComponentKind kind) const { return present[static_cast<size_t>(kind)]; }
  bool AnyPresent() const;

  // The packed form of a flash settings or defaults block on its way between
  // a component and a file or the receiver (kPackedBlockSize bytes).
  std::vector<uint8_t> packedFlash;
  // Images by ComponentKind number; only the Firmware ever changes its length.
  std::array<std::vector<uint8_t>, kComponentCount> images;
  std::array<bool, kComponentCount> present{};
  // Receiver model number; 0 = not set. Files carry its low 16 bits.
  int32_t systemId = 0;
  // Recognised layout of the Flash image (kLayoutNone..kLayoutDvbC) and its
  // section table. The table outlives the variant (New clears only the
  // variant); sectionTableMatchesFlash tells whether the table was recognised
  // from the Flash image now held, and only then are section checksums written.
  uint8_t layoutVariant = kLayoutNone;
  SectionTable sectionTable{};
  bool sectionTableMatchesFlash = false;
  // The model header of the last packed block loaded or received and
  // unpacked, for a model without a built-in header template; the packers
  // write it for that SystemID only (Workspace_OwnModelHeader).
  std::optional<KeptModelHeader> keptHeader;
};

// Writes into into the image that an operation writing only part of kind
// builds on: a copy of the image while the component is present; zeros of its
// size while it is absent, so that the bytes of a removed or discarded image
// never come back in a file. into is resized to the image and keeps its
// storage when that is large enough (no allocation for a buffer reused from
// load to load).
void Workspace_StartingImage(const Workspace& workspace, ComponentKind kind, std::vector<uint8_t>& into);

// Zero-fills the image of kind when the component is absent (see
// Workspace_StartingImage); a present image is left as it is.
void Workspace_ClearIfAbsent(Workspace& workspace, ComponentKind kind);

}  // namespace tolv
