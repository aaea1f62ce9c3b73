// Arbitrary STD files through the STD load into a workspace, then the checksum
// update a save would follow it with. The input is padded with zeros (or cut)
// to the 131,392 bytes of an STD file, so that every run gets past the size
// check.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "workspace/flash_settings.h"
#include "workspace/std_file.h"
#include "workspace/user_interaction.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> file(tolv::kStdFileSize, 0);
  std::memcpy(file.data(), data, size < file.size() ? size : file.size());
  tolv::Workspace workspace;
  tolv::SilentInteraction ui;
  const std::vector<uint8_t> flashBefore = workspace.Image(tolv::ComponentKind::Flash);
  const std::vector<uint8_t> eepromBefore = workspace.Image(tolv::ComponentKind::Eeprom);
  const bool loaded = tolv::STD_LoadFromBytes(workspace, file.data(), file.size(), ui).IsDone();
  // A load brings both parts; a failed one changes nothing at all.
  Check(workspace.Present(tolv::ComponentKind::Eeprom) == loaded);
  Check(workspace.Present(tolv::ComponentKind::Flash) == loaded);
  Check(workspace.Image(tolv::ComponentKind::Flash).size() == tolv::kFlashImageSize);
  if (!loaded) {
    Check(workspace.Image(tolv::ComponentKind::Flash) == flashBefore);
    Check(workspace.Image(tolv::ComponentKind::Eeprom) == eepromBefore);
  }
  tolv::Flash_UpdateChecksums(workspace);
  return 0;
}
