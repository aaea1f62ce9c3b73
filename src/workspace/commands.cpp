// New, component removal, the Defaults copies, NULL Settings, and the
// SystemID's setter and input box.
#include "workspace/commands.h"

#include <algorithm>
#include <cctype>

#include "flash/layout.h"
#include "workspace/flash_settings.h"
#include "workspace/packed_load_check.h"

namespace tolv {

namespace {

// The Firmware has no fixed size and may be very large: an absent one gives
// its memory back instead of holding zeros.
void ReleaseFirmware(Workspace& workspace) {
  std::vector<uint8_t>().swap(workspace.Image(ComponentKind::Firmware));
}

}  // namespace

void Workspace_Reset(Workspace& workspace) {
  ReleaseFirmware(workspace);
  workspace.present.fill(false);
  workspace.systemId = 0;
  workspace.layoutVariant = kLayoutNone;
  workspace.sectionTableMatchesFlash = false;
  workspace.keptHeader.reset();
}

Outcome Workspace_New(Workspace& workspace, UserInteraction& ui) {
  constexpr const char* kQuestion = "Unload all data?";
  if (!ui.Question(kQuestion)) return Outcome::Cancelled(kQuestion);
  Workspace_Reset(workspace);
  return Outcome::Done();
}

const char* Workspace_UnloadQuestion(ComponentKind kind) {
  switch (kind) {
    case ComponentKind::Loader: return "Unload loader?";
    case ComponentKind::Firmware: return "Unload firmware?";
    case ComponentKind::Flash: return "Unload flash?";
    case ComponentKind::Eeprom: return "Unload EEPROM?";
    case ComponentKind::Defaults: return "Unload defaults?";
    case ComponentKind::Background: return "Unload background?";
  }
  return "";
}

Outcome Workspace_Unload(Workspace& workspace, ComponentKind kind, UserInteraction& ui) {
  if (!workspace.Present(kind)) return Outcome::NothingToDo();
  const char* question = Workspace_UnloadQuestion(kind);
  if (!ui.Question(question)) return Outcome::Cancelled(question);
  std::vector<uint8_t>& image = workspace.Image(kind);
  std::fill(image.begin(), image.end(), uint8_t{0});
  if (kind == ComponentKind::Firmware) ReleaseFirmware(workspace);
  workspace.Present(kind) = false;
  // The zeroed image no longer has the layout that was recognised in it.
  if (kind == ComponentKind::Flash) workspace.sectionTableMatchesFlash = false;
  Workspace_ForgetModelHeaderIfUnused(workspace);
  return Outcome::Done();
}

Outcome Defaults_FromFlash(Workspace& workspace, UserInteraction& ui) {
  if (!workspace.Present(ComponentKind::Flash) || !workspace.Present(ComponentKind::Eeprom))
    return Outcome::NothingToDo();
  constexpr const char* kQuestion = "Overwrite the existing defaults?";
  if (workspace.Present(ComponentKind::Defaults) && !ui.Question(kQuestion))
    return Outcome::Cancelled(kQuestion);
  const std::vector<uint8_t>& flash = workspace.Image(ComponentKind::Flash);
  const std::vector<uint8_t>& eeprom = workspace.Image(ComponentKind::Eeprom);
  std::vector<uint8_t>& defaults = workspace.Image(ComponentKind::Defaults);
  // The Defaults image: settings in the Flash layout up to 0x60000, then the
  // default EEPROM; the rest is carried along untouched (zeros when the
  // Defaults were absent).
  Workspace_ClearIfAbsent(workspace, ComponentKind::Defaults);
  std::copy_n(flash.begin(), kDefaultsSettingsSize, defaults.begin());
  std::copy_n(eeprom.begin(), kEepromImageSize, defaults.begin() + kDefaultsEepromOffset);
  workspace.Present(ComponentKind::Defaults) = true;
  return Outcome::Done();
}

Outcome Defaults_ToFlash(Workspace& workspace, UserInteraction& ui) {
  if (!workspace.Present(ComponentKind::Defaults)) return Outcome::NothingToDo();
  constexpr const char* kQuestion = "Overwrite the existing Flash/EEPROM?";
  if ((workspace.Present(ComponentKind::Flash) || workspace.Present(ComponentKind::Eeprom)) &&
      !ui.Question(kQuestion))
    return Outcome::Cancelled(kQuestion);
  const std::vector<uint8_t>& defaults = workspace.Image(ComponentKind::Defaults);
  std::vector<uint8_t>& flash = workspace.Image(ComponentKind::Flash);
  // The Flash past 0x60000 stays as it is: zeros when the Flash was absent.
  Workspace_ClearIfAbsent(workspace, ComponentKind::Flash);
  std::copy_n(defaults.begin(), kDefaultsSettingsSize, flash.begin());
  std::copy_n(defaults.begin() + kDefaultsEepromOffset, kEepromImageSize,
              workspace.Image(ComponentKind::Eeprom).begin());
  workspace.Present(ComponentKind::Flash) = true;
  workspace.Present(ComponentKind::Eeprom) = true;
  // The variant shown is kept; the section table is trusted for checksums only
  // when the copied settings have that same layout.
  uint8_t tableVariant = SectionTable_Variant(workspace.sectionTable);
  workspace.sectionTableMatchesFlash =
      tableVariant != kLayoutNone && Flash_RecogniseLayout(flash.data(), flash.size()) == tableVariant;
  // A save recomputes the Flash's checksums: Defaults whose own do not match
  // would come out of it looking sound, so the copy says so.
  PackedLoadFindings findings;
  Settings_CheckSections(defaults.data(), kDefaultsSettingsSize, "defaults'", findings);
  for (const std::string& sentence : findings.named)
    ui.Notice(sentence + " The copy carries them into the Flash.");
  return Outcome::Done();
}

Outcome Defaults_Null(Workspace& workspace) {
  std::vector<uint8_t>& defaults = workspace.Image(ComponentKind::Defaults);
  std::fill(defaults.begin(), defaults.end(), uint8_t{0});
  workspace.Present(ComponentKind::Defaults) = true;
  return Outcome::Done();
}

namespace {

[[noreturn]] void NotANumber(const std::string& text) {
  throw SystemIdTextError("\"" + text + "\" is not a valid SystemID: enter a whole number from 1 to 65535.");
}

std::string OutOfRangeText(const std::string& text) {
  return text + " is not a valid SystemID: a SystemID is a number from 1 to 65535.";
}

[[noreturn]] void OutOfRange(const std::string& text) {
  throw SystemIdTextError(OutOfRangeText("\"" + text + "\""));
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

int32_t SystemId_Parse(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  std::string_view digits(text.data() + begin, end - begin);
  bool negative = false;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
    negative = digits[0] == '-';
    digits.remove_prefix(1);
  }
  int base = 10;
  if (digits.starts_with("$")) {
    base = 16;
    digits.remove_prefix(1);
  } else if (digits.starts_with("0x") || digits.starts_with("0X")) {
    base = 16;
    digits.remove_prefix(2);
  }
  if (digits.empty()) NotANumber(text);
  // Every container and the link carry 16 bits: a larger value would turn
  // into another model's number without a word.
  int64_t value = 0;
  bool tooLarge = false;
  for (char c : digits) {
    int digit = DigitValue(c);
    if (digit >= base) NotANumber(text);
    value = value * base + digit;
    if (value > kMaxSystemId) {
      tooLarge = true;
      value = kMaxSystemId + 1;  // kept small; every further digit is still checked
    }
  }
  if (tooLarge || (negative && value != 0)) OutOfRange(text);
  return static_cast<int32_t>(value);
}

Outcome Workspace_SetSystemId(Workspace& workspace, int32_t systemId) {
  if (systemId == 0) return Outcome::NothingToDo();
  if (systemId < 0 || systemId > kMaxSystemId)
    return Outcome::Failed(OutOfRangeText(std::to_string(systemId)));
  workspace.systemId = systemId;
  return Outcome::Done();
}

Outcome SystemId_Ask(Workspace& workspace, UserInteraction& ui) {
  const std::string text =
      ui.InputText("Tolv Pack", "Enter the targets SystemID.", std::to_string(workspace.systemId));
  return Workspace_SetSystemId(workspace, SystemId_Parse(text));
}

}  // namespace tolv
