// Arbitrary bytes as a TFD file: the reader must refuse or load them without
// touching memory outside its buffers, a loaded store must write an image that
// loads back to the same blocks, and the workspace import must either change
// nothing (refused file) or take only what the file holds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/chunk_compression.h"
#include "results/result_codes.h"
#include "tfd/tfd_store.h"
#include "workspace/tfd_files.h"

namespace {

using tolv::ComponentKind;

void Check(bool condition) {
  if (!condition) std::abort();
}

// Rebuilding is skipped for stores this large: compressing is the slow part
// of a run, and the compressor has targets of its own.
constexpr size_t kRebuildLimit = 64 << 10;

void CheckRebuild(const tolv::TfdStore& store) {
  static tolv::TfdStore* const again = new tolv::TfdStore();
  static std::vector<uint8_t> image;
  size_t total = 0;
  for (const tolv::tTFDBlock& slot : store) total += slot.data.size();
  if (total > kRebuildLimit) return;
  Check(tolv::TFD_BuildImage(store, 0x1234, image) == tolv::result::kOk);
  Check(tolv::TFD_LoadImage(*again, image.data(), image.size()) == tolv::result::kOk);
  for (int type = 0; type < tolv::kTfdSlotCount; ++type)
    Check(store[type].present == (*again)[type].present && store[type].data == (*again)[type].data);
}

// The file the import reads, removed when the fuzzer ends.
struct ScratchFile {
  std::string path = "/tmp/fuzz_tfd_load-" + std::to_string(getpid()) + ".tfd";
  ~ScratchFile() { unlink(path.c_str()); }
};

// A fixed-size or firmware block that the import took holds the file's bytes.
void CheckTaken(const tolv::Workspace& workspace, const tolv::TfdStore& store) {
  for (ComponentKind kind :
       {ComponentKind::Loader, ComponentKind::Firmware, ComponentKind::Eeprom, ComponentKind::Background}) {
    const tolv::tTFDBlock& slot = store[static_cast<size_t>(kind)];
    if (!workspace.Present(kind) || !slot.present) continue;
    const std::vector<uint8_t>& image = workspace.Image(kind);
    Check(image.size() == slot.data.size() &&
          (image.empty() || std::memcmp(image.data(), slot.data.data(), image.size()) == 0));
  }
}

void CheckImport(const uint8_t* data, size_t size, bool loads, uint16_t systemId) {
  static const ScratchFile file;
  FILE* out = std::fopen(file.path.c_str(), "wb");
  Check(out != nullptr);
  Check(size == 0 || std::fwrite(data, 1, size, out) == size);
  std::fclose(out);
  // One workspace and store for the whole run (building a workspace per
  // input would dominate the time); each input starts with every component
  // absent.
  static tolv::Workspace* const workspace = new tolv::Workspace();
  static tolv::TfdStore* const store = new tolv::TfdStore();
  for (ComponentKind kind : tolv::kAllComponents) workspace->Present(kind) = false;
  tolv::SilentInteraction ui;
  workspace->systemId = 77;
  tolv::TFD_Import(*workspace, *store, file.path, ui);
  // A refused file leaves even the SystemID as it was; a loaded one gives its
  // own.
  if (!loads) {
    Check(workspace->systemId == 77 && !workspace->AnyPresent());
    return;
  }
  Check(workspace->systemId == systemId);
  CheckTaken(*workspace, *store);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The image rebuilt on the calling thread: no threads started per input.
  tolv::Block_SetThreadCount(1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static tolv::TfdStore* const store = new tolv::TfdStore();
  tolv::TfdHeader header;
  const int32_t r = tolv::TFD_LoadImage(*store, data, size, &header);
  if (r == tolv::result::kOk) CheckRebuild(*store);
  CheckImport(data, size, r == tolv::result::kOk, header.systemId);
  return 0;
}
