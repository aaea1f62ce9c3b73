// Arbitrary STD files through the STD load into a workspace, then the checksum
// update a save would follow it with.
//
// The input is an STD file without the zero fill at its end: it is padded with
// zeros (or cut) to the 131,392 bytes of an STD file, so that every run gets
// past the size check and the fuzzer's short inputs reach the packed block.
// Header byte 8, which the load never reads (0 in a saved file), chooses the
// workspace the load starts from: bit 0 clear, a new one; set, one holding a
// Flash and an EEPROM (support/workspace_start.h).
//
// Checks: a load brings both parts, the EEPROM, SystemID and packed block from
// the file; a failed one changes nothing at all, EEPROM included; after the
// update every checksum the workspace keeps is right.
#include <cstdint>
#include <cstring>
#include <vector>

#include "support/exact_buffer.h"
#include "support/workspace_start.h"
#include "workspace/flash_settings.h"
#include "workspace/std_file.h"
#include "workspace/user_interaction.h"

namespace {

using tolv::ComponentKind;
using tolv::fuzz::Check;

constexpr size_t kSelectorOffset = 8;

// A load that succeeded took everything the file carries.
void CheckLoaded(const tolv::Workspace& workspace, const uint8_t* file) {
  Check(workspace.Present(ComponentKind::Flash) && workspace.Present(ComponentKind::Eeprom));
  Check(std::memcmp(workspace.Image(ComponentKind::Eeprom).data(), file + tolv::kStdEepromOffset,
                    tolv::kEepromImageSize) == 0);
  Check(workspace.systemId == tolv::STD_ReadSystemId(file, tolv::kStdFileSize));
  Check(workspace.packedFlash.size() == tolv::kPackedBlockSize &&
        std::memcmp(workspace.packedFlash.data(), file + tolv::kStdPackedOffset, tolv::kPackedBlockSize) ==
            0);
  Check(workspace.Image(ComponentKind::Flash).size() == tolv::kFlashImageSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static tolv::fuzz::ExactBuffer fileBuffer(tolv::kStdFileSize);
  static tolv::fuzz::StartedWorkspaces* const workspaces = new tolv::fuzz::StartedWorkspaces();
  const size_t taken = size < tolv::kStdFileSize ? size : tolv::kStdFileSize;
  const uint8_t* file = fileBuffer.Copy(data, taken, tolv::kStdFileSize);
  const tolv::fuzz::Start chosen =
      (file[kSelectorOffset] & 1) ? tolv::fuzz::Start::kHolding : tolv::fuzz::Start::kNew;
  const tolv::Workspace& start = tolv::fuzz::StartState(chosen);
  tolv::Workspace& workspace = workspaces->Begin(chosen);

  tolv::SilentInteraction ui;
  const bool loaded = tolv::STD_LoadFromBytes(workspace, file, tolv::kStdFileSize, ui).IsDone();
  if (loaded) {
    CheckLoaded(workspace, file);
  } else {
    tolv::fuzz::CheckUnchanged(workspace, start);
  }
  tolv::Flash_UpdateChecksums(workspace);
  tolv::fuzz::CheckChecksumsRight(workspace);
  workspaces->End(loaded);
  return 0;
}
