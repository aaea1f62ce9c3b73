// One case: known images, a form, a damage, the load and its verdict.
#include <algorithm>
#include <memory>
#include <optional>
#include <tuple>

#include "cli/backup_diff.h"
#include "cli/folder_input.h"
#include "cli/inspect.h"
#include "common/file_io.h"
#include "damage_internal.h"
#include "flash/checksums.h"
#include "flash/layout.h"
#include "flash/packing.h"
#include "tfd/tfd_store.h"
#include "workspace/backup_folder.h"
#include "workspace/bin_files.h"
#include "workspace/file_forms.h"
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
    case Form::kFirmwareBin: return ComponentKind::Firmware;
    default: return ComponentKind::Loader;
  }
}

bool IsBin(Form form) {
  return form == Form::kEepromBin || form == Form::kFlashBin || form == Form::kDefaultsBin ||
         form == Form::kLoaderBin || form == Form::kFirmwareBin;
}

// A backup folder as "tolv restore", "diff" and "verify" take one: refused
// unless every file matches SHA256SUMS; then its KIND.bin files, and the
// SystemID backup.json records.
Outcome LoadBackupFolder(Workspace& got, const std::string& dir, UserInteraction& ui) {
  const std::vector<std::string> faults = Backup_Faults(dir);
  if (!faults.empty()) return ShowFailure(ui, faults.front());
  for (const cli::FolderFile& file : cli::FolderComponentFiles(dir))
    if (Outcome loaded = Component_LoadBin(got, file.kind, file.path, ui); loaded.Stops()) return loaded;
  got.systemId = Backup_ReadRecord(dir).systemId.value_or(0);
  return Outcome::Done();
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
    case Form::kBackupFolder: return LoadBackupFolder(got, path, ui);
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
  if (form == Form::kTfd || form == Form::kBackupFolder) return true;
  if ((form == Form::kStd || form == Form::kDump) && kind == ComponentKind::Flash) return true;
  if (form == Form::kBlockFile || form == Form::kLoaderBin || form == Form::kFirmwareBin) return false;
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
    case Form::kBackupFolder:
      return {{ComponentKind::Loader, 0},
              {ComponentKind::Firmware, 0},
              {ComponentKind::Flash, 0},
              {ComponentKind::Eeprom, 0},
              {ComponentKind::Defaults, 0}};
    default: return {{BinKind(form), 0}};
  }
}

// The verdict of a load that said nothing.
Verdict CompareSilent(Form form, const Workspace& known, const Workspace& got) {
  bool uncovered = false;
  if ((form == Form::kStd || form == Form::kTfd || form == Form::kBackupFolder) &&
      known.systemId != got.systemId)
    return Verdict::kSilent;
  for (const Compared& part : ComparedParts(form)) {
    const std::vector<uint8_t>& a = known.Image(part.kind);
    const std::vector<uint8_t>& b = got.Image(part.kind);
    if (!got.Present(part.kind)) return Verdict::kSilent;
    // A firmware has no fixed size and no checksum: nothing tells its length.
    if (a.size() != b.size()) return form == Form::kFirmwareBin ? Verdict::kUncovered : Verdict::kSilent;
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
  const FileReport report = IsBin(form)                   ? InspectComponentBin(path, BinKind(form))
                            : form == Form::kBackupFolder ? cli::InspectBackupFolder(path)
                                                          : InspectFile(path);
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

// Whether "tolv diff" of known and got names exactly the bytes that differ,
// against a plain count of them (a byte one image lacks differs).
void CheckDiff(const Workspace& known, const Workspace& got, CaseResult& result) {
  const BackupDiff diff = Backups_Compare(known, got);
  std::string says;
  if (diff.systemIdA != known.systemId || diff.systemIdB != got.systemId) says += "SystemIDs | ";
  for (ComponentKind kind : kAllComponents) {
    const ComponentDiff& c = diff.components[static_cast<size_t>(kind)];
    if (c.sizeA.has_value() != known.Present(kind) || c.sizeB.has_value() != got.Present(kind)) {
      says += ComponentName(kind) + std::string(" presence | ");
      continue;
    }
    if (!c.InBoth()) continue;
    const std::vector<uint8_t>& a = known.Image(kind);
    const std::vector<uint8_t>& b = got.Image(kind);
    uint64_t differing = 0;
    std::optional<uint64_t> first;
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
      if (i < a.size() && i < b.size() && a[i] == b[i]) continue;
      ++differing;
      if (!first) first = i;
    }
    if (differing != c.bytes.differing || first != c.bytes.first)
      says += ComponentName(kind) + (" " + std::to_string(differing) + " bytes differ, diff says ") +
              std::to_string(c.bytes.differing) + " | ";
  }
  result.diffAgrees = says.empty();
  result.diffSays = says;
}

Form FormOfExtension(const std::string& extension) {
  return extension == "std" ? Form::kStd : extension == "dmp" ? Form::kDump : Form::kTfd;
}

// Whether the converted images equal the loaded ones where the form carries
// them; "" when they do, else what differs.
std::string ConvertDifference(const Workspace& got, const Workspace& back, const std::vector<Compared>& parts,
                              bool carriesId) {
  if (carriesId && static_cast<uint16_t>(got.systemId) != static_cast<uint16_t>(back.systemId))
    return "SystemID " + std::to_string(back.systemId);
  for (const Compared& part : parts) {
    if (!got.Present(part.kind)) continue;
    const std::vector<uint8_t>& a = got.Image(part.kind);
    const std::vector<uint8_t>& b = back.Image(part.kind);
    if (!back.Present(part.kind)) return std::string(ComponentName(part.kind)) + " missing";
    const size_t n = part.bytes ? std::min(part.bytes, a.size()) : a.size();
    if (b.size() < n || !std::equal(a.begin(), a.begin() + static_cast<ptrdiff_t>(n), b.begin()))
      return std::string(ComponentName(part.kind)) + " differs";
  }
  return "";
}

// "tolv convert" of the loaded images into a form drawn at random (STD, dump,
// TFD, or a BIN file of a component they hold) and the file read again:
// equal, or the save refused, or the difference named. A reload refused, or a
// difference nothing names, is a fault.
void Convert(Random& random, Workspace& got, const std::string& dir, CaseResult& result) {
  const std::vector<FileForm>& forms = FileForms();
  const size_t pick = random.Below(forms.size() + 1);
  auto back = std::make_unique<Workspace>();
  RecordingInteraction saveUi, loadUi;
  Outcome reloaded;
  std::vector<Compared> parts;
  bool carriesId = false;
  std::string written = dir + "/convert-";
  if (pick < forms.size()) {
    const FileForm& form = forms[pick];
    if (!form.save || !form.load || (form.saveRefusal && form.saveRefusal(got))) return;
    written += std::string("out.") + form.extension;
    if (form.save(got, written, saveUi).Stops()) return;
    if (form.outputName) written = form.outputName(written);
    reloaded = form.load(*back, written, loadUi);
    parts = ComparedParts(FormOfExtension(form.extension));
    carriesId = FormOfExtension(form.extension) != Form::kDump;
  } else {
    std::vector<ComponentKind> held;
    for (ComponentKind kind : kAllComponents)
      if (got.Present(kind)) held.push_back(kind);
    if (held.empty()) return;
    const ComponentKind kind = held[random.Below(held.size())];
    written += "out.bin";
    Component_SaveBin(got, kind, written);
    reloaded = Component_LoadBin(*back, kind, written, loadUi);
    parts = {{kind, 0}};
  }
  if (reloaded.Stops()) {
    result.convertAgrees = false;
    result.convertSays = "the converted " + written + " was refused: " + loadUi.said;
    return;
  }
  NameBadChecksums(*back, loadUi);
  const std::string difference = ConvertDifference(got, *back, parts, carriesId);
  if (!difference.empty() && loadUi.said.empty()) {
    result.convertAgrees = false;
    result.convertSays = "the converted " + written + " differs silently: " + difference;
  }
}

// A "Firmware.dat": no checksum covers any of it, so a damage is at worst
// uncovered; the parse must never fail or read beyond the file.
void RunModelListCase(const Workspace& known, const std::vector<uint8_t>& bytes, CaseResult& result) {
  const ModelList list = ModelList::Parse(bytes);
  const std::vector<ModelList::Model> models = KnownModels(known);
  const bool equal = list.size() == models.size() &&
                     std::equal(models.begin(), models.end(), list.models().begin(), [](auto& a, auto& b) {
                       return a.systemId == b.systemId && a.name == b.name;
                     });
  result.verdict = equal ? Verdict::kEqual : Verdict::kUncovered;
}

// The file of a written form that the damage goes to, and the form its
// bytes are damaged as: a backup folder's file drawn at random.
std::pair<std::string, Form> DamagedFile(Random& random, Form form, const std::string& path) {
  if (form != Form::kBackupFolder) return {path, form};
  static const std::pair<const char*, Form> kFiles[] = {
      {"backup.tfd", Form::kTfd},           {"loader.bin", Form::kLoaderBin},
      {"firmware.bin", Form::kFirmwareBin}, {"flash.bin", Form::kFlashBin},
      {"eeprom.bin", Form::kEepromBin},     {"defaults.bin", Form::kDefaultsBin},
      {"backup.json", Form::kLoaderBin},    {"SHA256SUMS", Form::kLoaderBin}};
  const auto& [name, as] = kFiles[random.Below(std::size(kFiles))];
  return {path + "/" + name, as};
}

}  // namespace

CaseResult RunCase(uint64_t seed, const std::string& dir) {
  CaseResult result;
  result.seed = seed;
  Random random(seed);
  auto known = std::make_unique<Workspace>();
  MakeKnown(random, *known);
  std::vector<uint8_t> bytes;
  std::string path, file;
  do {
    result.form = static_cast<Form>(random.Below(static_cast<uint64_t>(Form::kCount)));
    result.damage = static_cast<Damage>(random.Below(static_cast<uint64_t>(Damage::kCount)));
    path = WriteForm(result.form, *known, dir);
    Form as;
    std::tie(file, as) = DamagedFile(random, result.form, path);
    bytes = ReadFileBytes(file);
    result.where = ApplyDamage(random, as, result.damage, bytes);
  } while (result.where.empty());
  if (file != path) result.where = file.substr(path.size() + 1) + ": " + result.where;
  SaveFileAtomically(file, ByteView(bytes));
  if (result.form == Form::kModelList) {
    RunModelListCase(*known, bytes, result);
    return result;
  }
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
  if (outcome.Stops()) return result;
  CheckDiff(*known, *got, result);
  Convert(random, *got, dir, result);
  return result;
}

const char* FormName(Form form) {
  static const char* const kNames[] = {"STD",          "dump",         "TFD",          "EEPROM BIN",
                                       "Flash BIN",    "Defaults BIN", "Loader BIN",   "flash block file",
                                       "Firmware BIN", "Firmware.dat", "backup folder"};
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
