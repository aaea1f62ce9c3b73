// The workspaces the settings loads of the fuzz targets start from, reused
// for every input: building a workspace (1.5 MB of images) per input took
// most of a target's time.
//
// Three start states: a new workspace; one that holds a Flash and an EEPROM,
// both with right checksums, and SystemID 1234, the Flash with or without a
// recognised layout (with one, every checksum update computes the CRCs of
// 317 kB of sections, which a target pays for only where it needs a layout).
// Each start state has a workspace of its own, brought back to that state
// before each input, copying only the parts a settings load or the checksum
// update can change.
#pragma once

#include <cstdlib>
#include <cstring>
#include <vector>

#include "flash/checksums.h"
#include "flash/layout.h"
#include "workspace/flash_settings.h"
#include "workspace/workspace.h"

namespace tolv::fuzz {

inline void Check(bool condition) {
  if (!condition) std::abort();
}

enum class Start { kNew, kHolding, kHoldingWithLayout };

// Settings with a record every 1,000 bytes; with a layout, DVB-s sections
// with a data word in each and right checksums.
inline Workspace MakeHoldingWorkspace(bool withLayout) {
  Workspace workspace;
  std::vector<uint8_t>& flash = workspace.Image(ComponentKind::Flash);
  uint32_t state = 406;
  for (size_t offset = 0; offset + 24 <= flash.size(); offset += 1000) {
    for (size_t i = 0; i < 24; ++i) {
      state = state * 1103515245u + 12345u;
      flash[offset + i] = static_cast<uint8_t>(state >> 16);
    }
  }
  const SectionTable& table = Layout_Sections(kLayoutDvbS);
  if (withLayout) {
    for (int k = 1; k <= kSectionCount; ++k) flash[table.start[k] + 4] = static_cast<uint8_t>(0x10 + k);
    Flash_WriteSectionChecksums(flash.data(), flash.size(), table);
  }
  std::vector<uint8_t>& eeprom = workspace.Image(ComponentKind::Eeprom);
  for (size_t i = 0; i < eeprom.size(); ++i) eeprom[i] = static_cast<uint8_t>(i * 7 + 3);
  Eeprom_WriteChecksums(eeprom.data(), eeprom.size());
  workspace.Present(ComponentKind::Flash) = true;
  workspace.Present(ComponentKind::Eeprom) = true;
  workspace.systemId = 1234;
  Flash_DetectLayout(workspace);
  Check(workspace.sectionTableMatchesFlash == withLayout);
  return workspace;
}

inline const Workspace& StartState(Start start) {
  static const Workspace* const fresh = new Workspace();
  static const Workspace* const holding = new Workspace(MakeHoldingWorkspace(false));
  static const Workspace* const withLayout = new Workspace(MakeHoldingWorkspace(true));
  switch (start) {
    case Start::kNew: return *fresh;
    case Start::kHolding: return *holding;
    case Start::kHoldingWithLayout: return *withLayout;
  }
  return *fresh;
}

// Copies from into to, reusing to's storage.
inline void CopyImage(const std::vector<uint8_t>& from, std::vector<uint8_t>& to) {
  to.resize(from.size());
  if (!from.empty()) std::memcpy(to.data(), from.data(), from.size());
}

// Brings workspace back to start in everything a settings load (Flash,
// EEPROM, SystemID, layout, packed block, kept header) or the checksum update
// changes; with withImages false, in all but the Flash image and the packed
// block (which a refused load and the update of a Flash without a recognised
// layout leave alone).
inline void Restore(Workspace& workspace, const Workspace& start, bool withImages = true) {
  if (withImages) {
    CopyImage(start.Image(ComponentKind::Flash), workspace.Image(ComponentKind::Flash));
    CopyImage(start.packedFlash, workspace.packedFlash);
  }
  CopyImage(start.Image(ComponentKind::Eeprom), workspace.Image(ComponentKind::Eeprom));
  workspace.present = start.present;
  workspace.systemId = start.systemId;
  workspace.layoutVariant = start.layoutVariant;
  workspace.sectionTable = start.sectionTable;
  workspace.sectionTableMatchesFlash = start.sectionTableMatchesFlash;
  workspace.keptHeader = start.keptHeader;
}

// One workspace per start state, each brought back to its state before an
// input: wholly after an input that changed its images, else in the small
// parts only, so that inputs that switch between start states copy nothing
// large.
class StartedWorkspaces {
 public:
  // The workspace of start, in that state.
  Workspace& Begin(Start start) {
    Slot& slot = slots_[static_cast<size_t>(start)];
    Restore(slot.workspace, StartState(start), slot.imagesChanged);
    current_ = &slot;
    return slot.workspace;
  }
  // Whether the input changed the Flash image or the packed block.
  void End(bool imagesChanged) { current_->imagesChanged = imagesChanged; }

 private:
  struct Slot {
    Workspace workspace;
    bool imagesChanged = true;
  };
  Slot slots_[3];
  Slot* current_ = nullptr;
};

inline bool SameImage(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

// A refused load: nothing a settings load may change has changed.
inline void CheckUnchanged(const Workspace& workspace, const Workspace& start) {
  Check(SameImage(workspace.Image(ComponentKind::Flash), start.Image(ComponentKind::Flash)));
  Check(SameImage(workspace.Image(ComponentKind::Eeprom), start.Image(ComponentKind::Eeprom)));
  Check(SameImage(workspace.packedFlash, start.packedFlash));
  Check(workspace.present == start.present && workspace.systemId == start.systemId);
  Check(workspace.layoutVariant == start.layoutVariant && workspace.sectionTable == start.sectionTable);
  Check(workspace.sectionTableMatchesFlash == start.sectionTableMatchesFlash);
  Check(workspace.keptHeader.has_value() == start.keptHeader.has_value());
}

// After the checksum update a save runs: every checksum that the update
// keeps is right, as the checks that a report makes read them.
inline void CheckChecksumsRight(const Workspace& workspace) {
  if (workspace.Present(ComponentKind::Flash) && workspace.sectionTableMatchesFlash) {
    const std::vector<uint8_t>& flash = workspace.Image(ComponentKind::Flash);
    for (const ChecksumCheck& check :
         Flash_CheckSectionChecksums(flash.data(), flash.size(), workspace.sectionTable))
      Check(check.Ok());
  }
  if (workspace.Present(ComponentKind::Eeprom)) {
    const std::vector<uint8_t>& eeprom = workspace.Image(ComponentKind::Eeprom);
    for (const ChecksumCheck& check : Eeprom_CheckChecksums(eeprom.data(), eeprom.size())) Check(check.Ok());
  }
}

}  // namespace tolv::fuzz
