// Arbitrary flash dumps and flash block files, written as files and loaded
// into a workspace as the window and tolv load them.
//
// Byte 0 chooses the form:
//   bit 0 clear: a flash dump. The rest of the input is the dump without the
//     zero fill at its end, padded with zeros to 131,072 bytes (bit 1 set:
//     the file keeps the rest's own length). Bit 2 chooses the workspace the
//     load starts from: a new one, or one holding a Flash and an EEPROM
//     (support/workspace_start.h).
//   bit 0 set: a flash block file, loaded into a workspace holding DVB-s
//     settings with a recognised layout. Bytes 1 and 2 give the two characters
//     in the brackets of its name, "fuzz [kk].bin" (bit 1 set: "fuzz (kk).bin",
//     which is no block file's name); the rest of the input is its contents,
//     with bit 2 set padded with zeros or cut to the data length of the
//     section the name gives, so that the size test passes.
//
// Checks: a dump that loads gives the Flash and the packed block and leaves
// the EEPROM and the SystemID; a block file that loads replaces its section's
// data and nothing else but the section checksums, which are right; a refused
// file changes nothing.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "codec/crc16.h"
#include "flash/layout.h"
#include "flash/packing.h"
#include "support/exact_buffer.h"
#include "support/workspace_start.h"
#include "workspace/flash_files.h"
#include "workspace/flash_settings.h"
#include "workspace/user_interaction.h"

namespace {

using tolv::ComponentKind;
using tolv::fuzz::Check;
using tolv::fuzz::Start;

// The folder the files are written to, removed when the fuzzer ends.
struct ScratchFolder {
  std::string path = "/tmp/fuzz_flash_files-" + std::to_string(getpid());
  ScratchFolder() { Check(mkdir(path.c_str(), 0700) == 0 || errno == EEXIST); }
  ~ScratchFolder() { rmdir(path.c_str()); }
};

// A file of the input's bytes in that folder, for as long as a load needs it.
class ScratchFile {
 public:
  ScratchFile(const std::string& name, const uint8_t* data, size_t size) {
    static const ScratchFolder folder;
    path_ = folder.path + "/" + name;
    FILE* out = std::fopen(path_.c_str(), "wb");
    Check(out != nullptr);
    Check(size == 0 || std::fwrite(data, 1, size, out) == size);
    std::fclose(out);
  }
  ~ScratchFile() { unlink(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Digits most often, and a few characters that are not.
char NameCharacter(uint8_t byte) {
  static const char kCharacters[] = "01234567890123456789 xX-.";
  return kCharacters[byte % (sizeof kCharacters - 1)];
}

// Loads a dump; returns whether the images the load may change did change.
bool LoadDump(tolv::Workspace& workspace, const tolv::Workspace& start, uint8_t mode, const uint8_t* data,
              size_t size) {
  static tolv::fuzz::ExactBuffer dumpBuffer(tolv::kPackedBlockSize);
  const size_t taken = size < tolv::kPackedBlockSize ? size : tolv::kPackedBlockSize;
  const bool ownLength = (mode & 2) != 0;
  const uint8_t* dump = ownLength ? data : dumpBuffer.Copy(data, taken, tolv::kPackedBlockSize);
  const size_t dumpSize = ownLength ? size : tolv::kPackedBlockSize;
  const ScratchFile file("fuzz.dmp", dump, dumpSize);
  tolv::SilentInteraction ui;
  if (!tolv::FlashDump_Load(workspace, file.path(), ui)) {
    tolv::fuzz::CheckUnchanged(workspace, start);
    return false;
  }
  Check(dumpSize == tolv::kPackedBlockSize && workspace.Present(ComponentKind::Flash));
  Check(tolv::fuzz::SameImage(workspace.packedFlash, std::vector<uint8_t>(dump, dump + dumpSize)));
  Check(tolv::fuzz::SameImage(workspace.Image(ComponentKind::Eeprom), start.Image(ComponentKind::Eeprom)));
  Check(workspace.Present(ComponentKind::Eeprom) == start.Present(ComponentKind::Eeprom));
  Check(workspace.systemId == start.systemId);
  return true;
}

// A loaded block file: its section's data are the file's bytes, its header
// holds their CRC (sections 1..12) and the FF FF marker, and every other byte
// is as before (the other sections' checksums, rewritten over unchanged data,
// included).
void CheckBlockLoaded(const tolv::Workspace& workspace, const tolv::Workspace& start, int section,
                      const std::vector<uint8_t>& contents) {
  const uint8_t* flash = workspace.Image(ComponentKind::Flash).data();
  const uint8_t* before = start.Image(ComponentKind::Flash).data();
  const size_t header = workspace.sectionTable.start[section];
  const size_t dataEnd = header + 4 + contents.size();
  Check(std::memcmp(flash, before, header) == 0);
  Check(std::memcmp(flash + header + 4, contents.data(), contents.size()) == 0);
  Check(std::memcmp(flash + dataEnd, before + dataEnd, tolv::kFlashImageSize - dataEnd) == 0);
  if (section <= 12) {
    Check(tolv::ReadBE16(flash + header) ==
          tolv::CRC16_Calc(flash + header + 4, static_cast<int32_t>(contents.size())));
    Check(flash[header + 2] == 0xFF && flash[header + 3] == 0xFF);
  } else {
    Check(std::memcmp(flash + header, before + header, 4) == 0);
  }
}

bool LoadBlockFile(tolv::Workspace& workspace, const tolv::Workspace& start, uint8_t mode,
                   const uint8_t* data, size_t size) {
  if (size < 2) return false;
  const std::string digits{NameCharacter(data[0]), NameCharacter(data[1])};
  const std::string name = (mode & 2) ? "fuzz (" + digits + ").bin" : "fuzz [" + digits + "].bin";
  std::vector<uint8_t> contents(data + 2, data + size);
  const std::optional<tolv::FlashBlockName> parsed = tolv::FlashBlock_ParseName(name);
  const int section = parsed && parsed->section ? *parsed->section : 0;
  if ((mode & 4) && section >= 1 && section <= tolv::kSectionCount)
    contents.resize(static_cast<size_t>(std::max(tolv::Section_DataLength(start.sectionTable, section), 0)));
  const ScratchFile file(name, contents.data(), contents.size());
  tolv::SilentInteraction ui;
  if (!tolv::FlashBlock_Load(workspace, file.path(), ui)) {
    tolv::fuzz::CheckUnchanged(workspace, start);
    return false;
  }
  CheckBlockLoaded(workspace, start, section, contents);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static tolv::fuzz::StartedWorkspaces* const workspaces = new tolv::fuzz::StartedWorkspaces();
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const bool blockFile = (mode & 1) != 0;
  const Start chosen = blockFile ? Start::kHoldingWithLayout : (mode & 4) ? Start::kHolding : Start::kNew;
  const tolv::Workspace& start = tolv::fuzz::StartState(chosen);
  tolv::Workspace& workspace = workspaces->Begin(chosen);
  workspaces->End(blockFile ? LoadBlockFile(workspace, start, mode, data + 1, size - 1)
                            : LoadDump(workspace, start, mode, data + 1, size - 1));
  return 0;
}
