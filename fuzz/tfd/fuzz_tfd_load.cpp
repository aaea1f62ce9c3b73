// Arbitrary bytes as a TFD file: the reader must refuse or load them without
// touching memory outside its buffers, a loaded store must write an image that
// loads back to the same blocks, and the workspace import must either change
// nothing (refused file) or take only what the file holds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "results/result_codes.h"
#include "tfd/tfd_store.h"
#include "workspace/tfd_files.h"

namespace {

// Rebuilding is skipped for stores this large, to keep each run fast.
constexpr size_t kRebuildLimit = 64 << 10;

void CheckRebuild(const tolv::TfdStore& store) {
  size_t total = 0;
  for (const tolv::tTFDBlock& slot : store) total += slot.data.size();
  if (total > kRebuildLimit) return;
  std::vector<uint8_t> image;
  if (tolv::TFD_BuildImage(store, 0x1234, image) != tolv::result::kOk) abort();
  auto again = std::make_unique<tolv::TfdStore>();
  if (tolv::TFD_LoadImage(*again, image.data(), image.size()) != tolv::result::kOk) abort();
  for (int type = 0; type < tolv::kTfdSlotCount; ++type) {
    if (store[type].present != (*again)[type].present || store[type].data != (*again)[type].data) abort();
  }
}

// The file the import reads, removed when the fuzzer ends.
struct ScratchFile {
  std::string path = "/tmp/fuzz_tfd_load-" + std::to_string(getpid()) + ".tfd";
  ~ScratchFile() { unlink(path.c_str()); }
};

void CheckImport(const uint8_t* data, size_t size, bool loads) {
  static const ScratchFile file;
  const std::string& path = file.path;
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) abort();
  if (size > 0 && std::fwrite(data, 1, size, out) != size) abort();
  std::fclose(out);
  // One workspace for the whole run (building one per input would dominate
  // the time); each input starts with every component absent.
  static tolv::Workspace* const workspace = new tolv::Workspace();
  static tolv::TfdStore* const store = new tolv::TfdStore();
  for (tolv::ComponentKind kind : tolv::kAllComponents) workspace->Present(kind) = false;
  tolv::SilentInteraction ui;
  workspace->systemId = 77;
  tolv::TFD_Import(*workspace, *store, path, ui);
  // A refused file leaves even the SystemID as it was.
  if (!loads && (workspace->systemId != 77 || workspace->AnyPresent())) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto store = std::make_unique<tolv::TfdStore>();
  const int32_t r = tolv::TFD_LoadImage(*store, data, size);
  if (r == tolv::result::kOk) CheckRebuild(*store);
  CheckImport(data, size, r == tolv::result::kOk);
  return 0;
}
