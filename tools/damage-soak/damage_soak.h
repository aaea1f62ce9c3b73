// The damage soak: files of every form written by the project's own savers
// from images whose bytes are known, damaged, loaded again through the
// workspace's loaders and judged by the same checks "tolv info" and "tolv
// verify" print. Each case is drawn from its own seed, so any case can be run
// again alone.
#pragma once

#include <cstdint>
#include <string>

namespace tolv::damage {

enum class Form : uint8_t {
  kStd,
  kDump,
  kTfd,
  kEepromBin,
  kFlashBin,
  kDefaultsBin,
  kLoaderBin,
  kBlockFile,
  kFirmwareBin,
  kModelList,     // "Firmware.dat"
  kBackupFolder,  // what "tolv backup" writes; one of its files damaged
  kCount
};

enum class Damage : uint8_t {
  kFlip,          // one bit of one byte
  kCut,           // the file ends early
  kExtend,        // bytes appended
  kEntryUnused,   // a directory entry marked unused (block offset 0 or CRC 0xFFFF)
  kEntryMoved,    // a directory entry's block offset moved by a multiple of 1024
  kEntrySwapped,  // two neighbouring directory entries swapped
  kEntryDoubled,  // an entry copied over the next one
  kEntryCount,    // the entry count changed
  kChunkSize,     // a chunk's uncompressed size changed, every CRC and length recomputed
  kSystemId,      // the file's SystemID changed (the TFD header CRC recomputed)
  kCount
};

enum class Verdict : uint8_t {
  kRefused,    // the load refused the file
  kNamed,      // the load took it and said what is wrong
  kEqual,      // the load took it silently and it equals the known image
  kUncovered,  // taken silently, differing only in bytes no checksum covers
  kSilent,     // taken silently, and bytes a checksum covers differ: a fault
  kCount
};

const char* FormName(Form form);
const char* DamageName(Damage damage);
const char* VerdictName(Verdict verdict);

struct CaseResult {
  uint64_t seed = 0;
  Form form = Form::kStd;
  Damage damage = Damage::kFlip;
  std::string where;  // what the damage changed, e.g. "byte 97 ^ 0x04"
  Verdict verdict = Verdict::kEqual;
  // Whether "tolv info"/"tolv verify" judge the damaged file as the load did:
  // refused = not readable, named = not all OK, equal = all OK.
  bool inspectAgrees = true;
  std::string inspectSays;  // what they said when they disagree
  std::string loadSaid;     // the load's words
  // What a convert of the loaded images makes of them (written in another
  // form and read again): equal, refused or named, never a silent
  // difference. Unset when nothing was loaded or the form has no saver.
  bool convertAgrees = true;
  std::string convertSays;
  // Whether "tolv diff" of the known and the loaded images names exactly the
  // bytes that differ.
  bool diffAgrees = true;
  std::string diffSays;
};

// Runs the case of seed in folder dir (which must exist; its files are
// overwritten).
CaseResult RunCase(uint64_t seed, const std::string& dir);

}  // namespace tolv::damage
