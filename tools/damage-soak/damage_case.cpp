// One case: known images, a form, a damage, the load and its verdict.
#include <algorithm>
#include <memory>

#include "common/file_io.h"
#include "damage_internal.h"
#include "flash/checksums.h"
#include "flash/layout.h"
#include "flash/packing.h"
#include "tfd/tfd_store.h"
#include "workspace/bin_files.h"
#include "workspace/file_inspection.h"
#include "workspace/flash_files.h"
#include "workspace/std_file.h"
#include "workspace/tfd_files.h"

namespace tolv::damage {
namespace {

// Counts every word the load says.
class RecordingInteraction : public SilentInteraction {
 public:
  void Information(const std::string& text) override { said += text + " | "; }
  void Message(const std::string& text) override { said += text + " | "; }
  void Notice(const std::string& text) override { said += text + " | "; }
  bool Question(const std::string&) override { return true; }
  std::string said;
};

ComponentKind BinKind(Form form) {
  switch (form) {
    case Form::kEepromBin: return ComponentKind::Eeprom;
    case Form::kFlashBin: return ComponentKind::Flash;
    case Form::kDefaultsBin: return ComponentKind::Defaults;
    default: return ComponentKind::Loader;
  }
}

bool IsBin(Form form) {
  return form == Form::kEepromBin || form == Form::kFlashBin || form == Form::kDefaultsBin ||
         form == Form::kLoaderBin;
}

Outcome Load(Form form, Workspace& got, const std::string& path, UserInteraction& ui) {
  switch (form) {
    case Form::kStd: return STD_Load(got, path, ui);
    case Form::kDump: return FlashDump_Load(got, path, ui);
    case Form::kTfd: {
      auto store = std::make_unique<TfdStore>();
      return TFD_Import(got, *store, path, ui);
    }
    case Form::kBlockFile: return FlashBlock_Load(got, path, ui);
    default: return Component_LoadBin(got, BinKind(form), path, ui);
  }
}

// What "tolv" names after every load of the Flash or the EEPROM (its steps
// report them): section and EEPROM record checksums that do not match.
void NameBadChecksums(const Workspace& got, RecordingInteraction& ui) {
  auto bad = [](const std::vector<ChecksumCheck>& checks) {
    return std::any_of(checks.begin(), checks.end(), [](const ChecksumCheck& c) { return !c.Ok(); });
  };
  const std::vector<uint8_t>& flash = got.Image(ComponentKind::Flash);
  const std::vector<uint8_t>& eeprom = got.Image(ComponentKind::Eeprom);
  if (got.Present(ComponentKind::Flash) && got.sectionTableMatchesFlash &&
      bad(Flash_CheckSectionChecksums(flash.data(), flash.size(), got.sectionTable)))
    ui.Notice("BAD section checksums");
  if (got.Present(ComponentKind::Eeprom) && bad(Eeprom_CheckChecksums(eeprom.data(), eeprom.size())))
    ui.Notice("BAD EEPROM record checksums");
}

// Whether a byte of a settings image (Flash or Defaults' settings) is
// covered by a section checksum of the DVB-s layout.
bool SettingsCovered(size_t at) {
  const SectionTable& table = Layout_Sections(kLayoutDvbS);
  for (int k = 1; k < kSectionCount; ++k)
    if (at >= table.start[k] && at <= table.end[k]) return true;
  return false;
}

bool EepromCovered(size_t at) { return at < 82; }

// Whether byte at of component kind, carried in form, is covered by a
// checksum: every byte a TFD block or a packed block carries is; a BIN file's
// or a flash block file's only where the component has checksums of its own.
bool Covered(Form form, ComponentKind kind, size_t at) {
  if (form == Form::kTfd) return true;
  if ((form == Form::kStd || form == Form::kDump) && kind == ComponentKind::Flash) return true;
  if (form == Form::kBlockFile || form == Form::kLoaderBin) return false;
  switch (kind) {
    case ComponentKind::Eeprom: return EepromCovered(at);
    case ComponentKind::Flash: return SettingsCovered(at);
    case ComponentKind::Defaults:
      return at < kDefaultsSettingsSize
                 ? SettingsCovered(at)
                 : at < kDefaultsEepromOffset + kEepromImageSize && EepromCovered(at - kDefaultsEepromOffset);
    default: return false;
  }
}

struct Compared {
  ComponentKind kind;
  size_t bytes;  // from the start; 0 for the whole image
};

std::vector<Compared> ComparedParts(Form form) {
  const size_t settings = kDefaultsSettingsSize;
  switch (form) {
    case Form::kStd: return {{ComponentKind::Flash, settings}, {ComponentKind::Eeprom, 0}};
    case Form::kDump: return {{ComponentKind::Flash, settings}};
    case Form::kTfd:
      return {{ComponentKind::Loader, 0},
              {ComponentKind::Firmware, 0},
              {ComponentKind::Flash, settings},
              {ComponentKind::Eeprom, 0},
              {ComponentKind::Defaults, kDefaultsEepromOffset + kEepromImageSize}};
    case Form::kBlockFile: return {{ComponentKind::Flash, 0}};
    default: return {{BinKind(form), 0}};
  }
}

// The verdict of a load that said nothing.
Verdict CompareSilent(Form form, const Workspace& known, const Workspace& got) {
  bool uncovered = false;
  if ((form == Form::kStd || form == Form::kTfd) && known.systemId != got.systemId) return Verdict::kSilent;
  for (const Compared& part : ComparedParts(form)) {
    const std::vector<uint8_t>& a = known.Image(part.kind);
    const std::vector<uint8_t>& b = got.Image(part.kind);
    if (!got.Present(part.kind) || a.size() != b.size()) return Verdict::kSilent;
    const size_t n = part.bytes ? std::min(part.bytes, a.size()) : a.size();
    for (size_t i = 0; i < n; ++i) {
      if (a[i] == b[i]) continue;
      if (Covered(form, part.kind, i)) return Verdict::kSilent;
      uncovered = true;
    }
  }
  return uncovered ? Verdict::kUncovered : Verdict::kEqual;
}

// What "tolv info" and "tolv verify" make of the file, against the load.
void Inspect(Form form, const std::string& path, CaseResult& result) {
  const FileReport report = IsBin(form) ? InspectComponentBin(path, BinKind(form)) : InspectFile(path);
  bool agrees = true;
  if (result.verdict == Verdict::kRefused) agrees = !report.Readable();
  if (result.verdict == Verdict::kNamed) agrees = report.Readable() && !report.AllOk();
  if (result.verdict == Verdict::kEqual || result.verdict == Verdict::kUncovered) agrees = report.AllOk();
  result.inspectAgrees = agrees;
  if (agrees) return;
  for (const std::string& p : report.problems) result.inspectSays += "problem: " + p + " | ";
  for (const std::string& n : report.named) result.inspectSays += "named: " + n + " | ";
  result.inspectSays +=
      "form " + report.form + ", " + std::to_string(report.BadChecksumCount()) + " bad checksums";
}

}  // namespace

CaseResult RunCase(uint64_t seed, const std::string& dir) {
  CaseResult result;
  result.seed = seed;
  Random random(seed);
  auto known = std::make_unique<Workspace>();
  MakeKnown(random, *known);
  std::vector<uint8_t> bytes;
  std::string path;
  do {
    result.form = static_cast<Form>(random.Below(static_cast<uint64_t>(Form::kCount)));
    result.damage = static_cast<Damage>(random.Below(static_cast<uint64_t>(Damage::kCount)));
    path = WriteForm(result.form, *known, dir);
    bytes = ReadFileBytes(path);
    result.where = ApplyDamage(random, result.form, result.damage, bytes);
  } while (result.where.empty());
  SaveFileAtomically(path, ByteView(bytes));
  // A flash block file goes into the settings it came from.
  auto got = std::make_unique<Workspace>();
  if (result.form == Form::kBlockFile) *got = *known;
  RecordingInteraction ui;
  const Outcome outcome = Load(result.form, *got, path, ui);
  if (!outcome.Stops()) NameBadChecksums(*got, ui);
  result.loadSaid = ui.said;
  if (outcome.Stops()) {
    result.verdict = Verdict::kRefused;
  } else if (!ui.said.empty()) {
    result.verdict = Verdict::kNamed;
  } else {
    result.verdict = CompareSilent(result.form, *known, *got);
  }
  Inspect(result.form, path, result);
  return result;
}

const char* FormName(Form form) {
  static const char* const kNames[] = {"STD",       "dump",         "TFD",        "EEPROM BIN",
                                       "Flash BIN", "Defaults BIN", "Loader BIN", "flash block file"};
  return kNames[static_cast<size_t>(form)];
}

const char* DamageName(Damage damage) {
  static const char* const kNames[] = {
      "flip",          "cut",         "extend",     "entry unused", "entry moved", "entries swapped",
      "entry doubled", "entry count", "chunk size", "SystemID"};
  return kNames[static_cast<size_t>(damage)];
}

const char* VerdictName(Verdict verdict) {
  static const char* const kNames[] = {"refused", "named", "equal", "uncovered", "silent"};
  return kNames[static_cast<size_t>(verdict)];
}

}  // namespace tolv::damage
