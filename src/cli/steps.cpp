// Parsing and applying the steps of the command line.
#include "cli/steps.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "cli/cli_command.h"
#include "cli/folder_input.h"
#include "common/file_io.h"
#include "common/save_interrupt.h"
#include "common/utf8_path.h"
#include "flash/checksums.h"
#include "flash/layout.h"
#include "workspace/availability.h"
#include "workspace/bin_files.h"
#include "workspace/commands.h"
#include "workspace/file_forms.h"
#include "workspace/flash_files.h"
#include "workspace/flash_settings.h"
#include "workspace/json_text.h"

namespace tolv::cli {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "KIND=FILE": the word before the first "=" and the rest.
bool SplitAssignment(const std::string& arg, std::string& word, std::string& file) {
  size_t eq = arg.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  word = Lower(arg.substr(0, eq));
  file = arg.substr(eq + 1);
  return true;
}

std::string FormExtensions() {
  std::string list;
  for (const FileForm& form : FileForms())
    if (form.namedByExtension) list += std::string(list.empty() ? "" : ", ") + "NAME." + form.extension;
  return list;
}

// --- inputs ---------------------------------------------------------------

Step LoadBinStep(const std::string& arg, ComponentKind kind, const std::string& path) {
  return {StepRole::kInput, arg, [kind, path](Workspace& ws, ConsoleInteraction& ui) {
            return Component_LoadBin(ws, kind, path, ui);
          }};
}

Step LoadBlockStep(const std::string& arg, const std::string& path) {
  return {StepRole::kInput, arg,
          [path](Workspace& ws, ConsoleInteraction& ui) { return FlashBlock_Load(ws, path, ui); }};
}

Step LoadFormStep(const std::string& arg, const FileForm& form) {
  return {StepRole::kInput, arg,
          [&form, arg](Workspace& ws, ConsoleInteraction& ui) { return form.load(ws, arg, ui); }};
}

// A file whose checksums are bad loads like any other, but the next STD, TFD
// or flash dump save rewrites them, and the damage would vanish unseen: the
// load names them as the Flash and EEPROM arrive.
Step ReportingBadChecksums(Step step) {
  step.apply = [load = std::move(step.apply), source = step.text](Workspace& ws, ConsoleInteraction& ui) {
    auto held = [&ws](ComponentKind kind) {
      return ws.Present(kind) ? ws.Image(kind) : std::vector<uint8_t>();
    };
    const std::vector<uint8_t> flashBefore = held(ComponentKind::Flash);
    const std::vector<uint8_t> eepromBefore = held(ComponentKind::Eeprom);
    Outcome loaded = load(ws, ui);
    if (loaded.Stops()) return loaded;
    for (const std::string& note : Load_BadChecksumNotes(ws, flashBefore, eepromBefore, source))
      ui.Note(note);
    return loaded;
  };
  return step;
}

// Every KIND.bin of a folder, in component order, each loaded as KIND=FILE
// would be; the first that fails ends the step.
Step LoadFolderStep(const std::string& dir, bool noteBadChecksums) {
  return {StepRole::kInput, dir, [dir, noteBadChecksums](Workspace& ws, ConsoleInteraction& ui) {
            // A save into the folder that a kill cut off is finished first.
            Saves_TidyFolder(dir);
            const std::vector<FolderFile> files = FolderComponentFiles(dir);
            if (files.empty()) return ReportFailure(ui, NoComponentFilesText(dir));
            for (const FolderFile& file : files) {
              Step load = LoadBinStep(file.path, file.kind, file.path);
              if (noteBadChecksums) load = ReportingBadChecksums(std::move(load));
              if (Outcome loaded = load.apply(ws, ui); loaded.Stops()) {
                ui.Note("tolv: \"" + file.path + "\" was not loaded.");
                return loaded;
              }
            }
            return Outcome::Done();
          }};
}

}  // namespace

Step ParseInputStep(const std::string& arg, bool noteBadChecksums) {
  auto noting = [noteBadChecksums](Step step) {
    return noteBadChecksums ? ReportingBadChecksums(std::move(step)) : step;
  };
  std::string word, file;
  if (SplitAssignment(arg, word, file)) {
    if (file.empty()) throw UsageError("\"" + arg + "\" names no file after \"=\"");
    if (word == "block") return LoadBlockStep(arg, file);
    if (std::optional<ComponentKind> kind = ParseComponentKind(word))
      return noting(LoadBinStep(arg, *kind, file));
  }
  if (NamesFolder(arg)) return LoadFolderStep(arg, noteBadChecksums);
  const FileForm* form = FindFileForm(arg);
  if (form && form->load) return noting(LoadFormStep(arg, *form));
  throw UsageError("cannot tell how to read \"" + arg + "\": give " + FormExtensions() +
                   ", KIND=FILE, block=FILE or DIR/");
}

namespace {

// --- operations -----------------------------------------------------------

// Checked when the command line is read, so that a SystemID that is no model
// number stops the command before anything is loaded or written.
Step SysIdStep(const std::string& text) {
  int32_t systemId = 0;
  try {
    systemId = SystemId_Parse(text);
  } catch (const SystemIdTextError& error) {
    throw UsageError(std::string("--sysid: ") + error.what());
  }
  return {StepRole::kOperation, "--sysid " + text,
          [systemId](Workspace& ws, ConsoleInteraction&) { return Workspace_SetSystemId(ws, systemId); }};
}

// A Defaults copy, refused as the window refuses it (its menu entry disabled).
Step DefaultsCopyStep(const char* text, std::optional<std::string> (*refusal)(const Workspace&),
                      Outcome (*copy)(Workspace&, UserInteraction&)) {
  return {StepRole::kOperation, text, [refusal, copy](Workspace& ws, ConsoleInteraction& ui) {
            if (std::optional<std::string> refused = refusal(ws)) return ReportFailure(ui, *refused);
            return copy(ws, ui);
          }};
}

Step NullDefaultsStep() {
  return {StepRole::kOperation, "--null-defaults",
          [](Workspace& ws, ConsoleInteraction&) { return Defaults_Null(ws); }};
}

Step RemoveStep(ComponentKind kind) {
  return {StepRole::kOperation, "--remove " + ComponentWord(kind),
          [kind](Workspace& ws, ConsoleInteraction& ui) {
            if (!ws.Present(kind)) ui.Note(std::string("The ") + ComponentName(kind) + " is not present.");
            return Workspace_Unload(ws, kind, ui);
          }};
}

// --- outputs --------------------------------------------------------------

// Whether an output of the run writes to standard output: the lines naming
// the files written then go to standard error, so that nothing but the
// output's bytes reaches standard output.
bool g_standardOutputTaken = false;

void Wrote(const std::string& path) {
  std::FILE* lines = g_standardOutputTaken ? stderr : stdout;
  std::fprintf(lines, "Wrote %s\n", PrintableName(path).c_str());
  std::fflush(lines);
}

Step SaveBinStep(const std::string& arg, ComponentKind kind, const std::string& path) {
  return {StepRole::kOutput,
          arg,
          [kind, path](Workspace& ws, ConsoleInteraction& ui) {
            if (std::optional<std::string> refusal = SaveBin_Refusal(ws, kind))
              return ReportFailure(ui, *refusal);
            const Outcome saved = Component_SaveBin(ws, kind, path);
            if (saved) Wrote(path);
            return saved;
          },
          path,
          false,
          [kind](const Workspace& ws) { return SaveBin_Refusal(ws, kind); }};
}

Step SaveBlocksStep(const std::string& arg, const std::string& path) {
  return {StepRole::kOutput,
          arg,
          [path](Workspace& ws, ConsoleInteraction& ui) {
            if (std::optional<std::string> refusal = SaveBin_Refusal(ws, ComponentKind::Flash))
              return ReportFailure(ui, *refusal);
            const FlashBlocksSaved saved = FlashBlocks_Save(ws, path, ui);
            for (const std::string& name : saved.written) Wrote(name);
            // Block files of an earlier save that this one leaves in place.
            if (saved.outcome) {
              for (const std::string& name : FlashBlocks_Leftovers(ws, path)) ui.Note(LeftoverText(name));
            }
            return saved.outcome;
          },
          path,
          false,
          [](const Workspace& ws) { return SaveBin_Refusal(ws, ComponentKind::Flash); }};
}

Step SaveFormStep(const std::string& arg, const FileForm& form, const std::string& path) {
  return {StepRole::kOutput,
          arg,
          [&form, path](Workspace& ws, ConsoleInteraction& ui) {
            if (form.saveRefusal) {
              if (std::optional<std::string> refusal = form.saveRefusal(ws))
                return ReportFailure(ui, *refusal);
            }
            Outcome saved = form.save(ws, path, ui);
            if (saved) Wrote(form.outputName ? form.outputName(path) : path);
            return saved;
          },
          form.outputName ? form.outputName(path) : path,
          false,
          [&form](const Workspace& ws) {
            return form.saveRefusal ? form.saveRefusal(ws) : std::optional<std::string>();
          }};
}

// The folders that a save into a folder creates: when the save fails, the
// ones it made are removed again (innermost first, and only while empty),
// so that a failed run leaves no trace.
class CreatedFolders {
 public:
  explicit CreatedFolders(const std::string& dir) {
    namespace fs = std::filesystem;
    std::error_code error;
    for (fs::path at = PathFromUtf8(dir); !at.empty() && !fs::exists(at, error); at = at.parent_path()) {
      if (at.filename().empty() || at == at.parent_path()) {
        at = at.parent_path();  // "NEW/" ends in an empty name
        if (at.empty() || fs::exists(at, error)) break;
      }
      missing_.push_back(at);
    }
  }
  ~CreatedFolders() {
    std::error_code ignored;
    for (const std::filesystem::path& folder : missing_) std::filesystem::remove(folder, ignored);
  }
  CreatedFolders(const CreatedFolders&) = delete;
  CreatedFolders& operator=(const CreatedFolders&) = delete;
  void Keep() { missing_.clear(); }

 private:
  std::vector<std::filesystem::path> missing_;  // innermost first
};

// Every present component as DIR/<kind>.bin.
Step SaveDirectoryStep(const std::string& arg, const std::string& dir) {
  return {StepRole::kOutput,
          arg,
          [dir](Workspace& ws, ConsoleInteraction& ui) {
            if (!ws.AnyPresent())
              return ReportFailure(ui, "No component is present: there is nothing to save in " + dir);
            CreatedFolders created(dir);
            std::error_code error;
            std::filesystem::create_directories(PathFromUtf8(dir), error);
            if (error)
              return ReportFailure(ui, "Cannot create the folder \"" + dir + "\": " + error.message());
            // The components are saved together: all of them, or none.
            std::vector<FileToSave> files;
            for (ComponentKind kind : kAllComponents) {
              if (ws.Present(kind)) files.push_back({FolderFileName(dir, kind), {ws.Image(kind)}});
            }
            SaveFilesAtomically(files);
            created.Keep();
            for (const FileToSave& file : files) Wrote(file.path);
            // A later load of the folder would take these along.
            for (const std::string& leftover : FolderLeftovers(dir, ws)) ui.Note(LeftoverText(leftover));
            return Outcome::Done();
          },
          dir,
          true,
          [dir](const Workspace& ws) {
            return ws.AnyPresent() ? std::optional<std::string>()
                                   : "No component is present: there is nothing to save in " + dir;
          }};
}

// The output step with the files it writes (Step::writes).
Step Writing(Step step, std::function<std::vector<std::string>(const Workspace&)> writes) {
  step.writes = std::move(writes);
  return step;
}

std::function<std::vector<std::string>(const Workspace&)> OneFile(const std::string& path) {
  return [path](const Workspace&) { return std::vector<std::string>{path}; };
}

// -o blocks=path may write one file per section, -o DIR/ one per present
// component.
std::vector<std::string> BlockFileNames(const std::string& path) {
  const FileNameParts parts = FileName_Split(path);
  std::vector<std::string> names;
  for (int k = 1; k <= kSectionCount; ++k)
    names.push_back(FlashBlock_FileName(parts.directory, parts.baseName, k));
  return names;
}

std::vector<std::string> FolderFileNames(const std::string& dir, const Workspace& ws) {
  std::vector<std::string> names;
  for (ComponentKind kind : kAllComponents)
    if (ws.Present(kind)) names.push_back(FolderFileName(dir, kind));
  return names;
}

Step ParseOutput(const std::string& value) {
  const std::string arg = "-o " + value;
  if (value.empty()) throw UsageError("\"-o\" needs a file name");
  if (IsFolderSeparator(value.back()))
    return Writing(SaveDirectoryStep(arg, value),
                   [value](const Workspace& ws) { return FolderFileNames(value, ws); });
  std::string word, file;
  if (SplitAssignment(value, word, file)) {
    if (file.empty()) throw UsageError("\"" + arg + "\" names no file after \"=\"");
    if (word == "blocks")
      return Writing(SaveBlocksStep(arg, file), [file](const Workspace&) { return BlockFileNames(file); });
    if (std::optional<ComponentKind> kind = ParseComponentKind(word))
      return Writing(SaveBinStep(arg, *kind, file), OneFile(file));
  }
  const FileForm* form = FindFileForm(value);
  if (form && form->save)
    return Writing(SaveFormStep(arg, *form, value),
                   OneFile(form->outputName ? form->outputName(value) : value));
  throw UsageError("cannot tell how to write \"" + value + "\": give -o " + FormExtensions() +
                   ", -o KIND=FILE, -o blocks=FILE or -o DIR/");
}

const std::string& ValueOf(const std::vector<std::string>& args, size_t& index) {
  if (index + 1 >= args.size()) throw UsageError("\"" + args[index] + "\" needs a value");
  index += 2;
  return args[index - 1];
}

void Require(bool allowed, const std::string& arg, const char* what) {
  if (!allowed) throw UsageError("\"" + arg + "\": this command takes no " + what);
}

std::optional<Step> ParseOperation(const std::vector<std::string>& args, size_t& index) {
  const std::string& arg = args[index];
  if (arg == "--sysid") return SysIdStep(ValueOf(args, index));
  if (arg == "--remove") {
    const std::string& word = ValueOf(args, index);
    std::optional<ComponentKind> kind = ParseComponentKind(word);
    if (!kind)
      throw UsageError("\"--remove " + word + "\": the components are " +
                       "loader, firmware, flash, eeprom, defaults and background");
    return RemoveStep(*kind);
  }
  std::optional<Step> step;
  if (arg == "--flash-to-defaults")
    step = DefaultsCopyStep("--flash-to-defaults", &FlashToDefaults_Refusal, &Defaults_FromFlash);
  if (arg == "--defaults-to-flash")
    step = DefaultsCopyStep("--defaults-to-flash", &DefaultsToFlash_Refusal, &Defaults_ToFlash);
  if (arg == "--null-defaults") step = NullDefaultsStep();
  if (step) ++index;
  return step;
}

}  // namespace

Step ParsePlainInput(const std::string& arg, StepSyntax syntax) {
  Require(syntax.inputs, arg, "inputs");
  return ParseInputStep(arg);
}

std::optional<ComponentKind> ParseComponentKind(const std::string& word) {
  const std::string lower = Lower(word);
  if (lower == "settings") return ComponentKind::Flash;
  for (ComponentKind kind : kAllComponents)
    if (lower == ComponentWord(kind)) return kind;
  return std::nullopt;
}

std::string ComponentWord(ComponentKind kind) { return Lower(ComponentName(kind)); }

std::optional<Step> ParseStep(const std::vector<std::string>& args, size_t& index, StepSyntax syntax) {
  const std::string& arg = args[index];
  if (arg == "-o" || arg == "--output") {
    Require(syntax.outputs, arg, "outputs");
    return ParseOutput(ValueOf(args, index));
  }
  if (arg.size() > 2 && arg.starts_with("-o") && arg[2] != '-') {
    Require(syntax.outputs, arg, "outputs");
    ++index;
    return ParseOutput(arg.substr(2));
  }
  if (arg.starts_with("-") && arg.size() > 1) {
    size_t at = index;
    std::optional<Step> step = ParseOperation(args, at);
    if (!step) return std::nullopt;
    Require(syntax.operations, arg, "operations");
    index = at;
    return step;
  }
  Require(syntax.inputs, arg, "inputs");
  ++index;
  return ParseInputStep(arg);
}

std::vector<Step> ParseSteps(const std::vector<std::string>& args, StepSyntax syntax) {
  std::vector<Step> steps;
  for (size_t index = 0; index < args.size();) {
    if (args[index] == "--") {
      for (size_t rest = index + 1; rest < args.size(); ++rest)
        steps.push_back(ParsePlainInput(args[rest], syntax));
      break;
    }
    std::optional<Step> step = ParseStep(args, index, syntax);
    if (!step) throw UsageError("unknown option \"" + args[index] + "\"");
    steps.push_back(std::move(*step));
  }
  return steps;
}

namespace {

// Applies one step; an output under a SaveInterruptGuard. Returns its
// outcome (failed with the text of an exception, which is printed), and in
// cancelled whether a request to stop came meanwhile.
Outcome ApplyStep(const Step& step, Workspace& workspace, ConsoleInteraction& ui, bool& cancelled) {
  std::optional<SaveInterruptGuard> guard;
  if (step.role == StepRole::kOutput) guard.emplace();
  Outcome outcome;
  try {
    outcome = step.apply(workspace, ui);
  } catch (const std::exception& error) {
    outcome = ReportFailure(ui, error.what());
  }
  cancelled = guard && SaveInterruptGuard::Requested();
  return outcome;
}

}  // namespace

void ReserveStandardOutput(const std::vector<Step>& steps) {
  g_standardOutputTaken =
      g_standardOutputTaken || std::any_of(steps.begin(), steps.end(), [](const Step& step) {
        return step.role == StepRole::kOutput && !step.targetIsFolder && SavesToStandardOutput(step.target);
      });
}

Outcome ReportFailure(ConsoleInteraction& ui, const std::string& text) {
  ui.Failure(text);
  return Outcome::Failed(text);
}

Outcome RunSteps(const std::vector<Step>& steps, Workspace& workspace, ConsoleInteraction& ui) {
  // What the saves find and tidy on the way is named as a note.
  Saves_OnNotice([&ui](const std::string& text) { ui.Note("tolv: " + text); });
  struct NoticesEnd {
    ~NoticesEnd() { Saves_OnNotice({}); }
  } noticesEnd;
  ReserveStandardOutput(steps);
  for (size_t i = 0; i < steps.size(); ++i) {
    bool cancelled = false;
    const Outcome outcome = ApplyStep(steps[i], workspace, ui, cancelled);
    if (!outcome.Stops() && !cancelled) continue;
    const std::string step = "\"" + steps[i].text + "\"";
    const bool later = i + 1 < steps.size();
    const std::string notRun = later ? "; the steps after it were not run." : ".";
    if (cancelled && !outcome.Stops()) {
      // A save that was replacing files when the request came has finished.
      const std::string line = "tolv: cancelled after " + step + ", which was written" + notRun;
      ui.Failure(line);
      return Outcome::Cancelled(line);
    }
    if (later) ui.Note("tolv: " + std::string(cancelled ? "cancelled" : "stopped") + " at " + step + notRun);
    return cancelled ? Outcome::Cancelled(outcome.Text()) : outcome;
  }
  return Outcome::Done();
}

}  // namespace tolv::cli
