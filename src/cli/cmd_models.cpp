// tolv models: the model list in use and the models whose settings can be
// packed.
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>

#include "cli/cli_command.h"
#include "cli/steps.h"
#include "common/utf8_path.h"
#include "flash/model_list.h"
#include "flash/packing.h"
#include "workspace/commands.h"
#include "workspace/json_text.h"

namespace tolv::cli {
namespace {

struct ModelRow {
  uint16_t systemId = 0;
  std::string name;  // from the model list, or "unknown SysID=N"
  bool inList = false;
  bool packable = false;  // a built-in model header exists for it
};

// Every system ID with a built-in model header, in increasing order.
std::vector<uint16_t> PackableIds() {
  std::vector<uint16_t> ids;
  for (uint32_t id = 1; id <= 0xFFFF; ++id)
    if (Flash_HasModelHeader(static_cast<uint16_t>(id))) ids.push_back(static_cast<uint16_t>(id));
  return ids;
}

ModelRow RowOf(uint16_t systemId, const ModelList* list) {
  const std::optional<std::string> listed = list ? list->Find(systemId) : std::nullopt;
  return {systemId, ModelList_Lookup(systemId), listed.has_value(), Flash_HasModelHeader(systemId)};
}

// The list's system IDs in file order (each once), then those that can be
// packed but are not listed.
std::vector<ModelRow> AllRows(const ModelList* list) {
  std::vector<ModelRow> rows;
  std::set<uint16_t> seen;
  if (list) {
    for (const ModelList::Model& model : list->models())
      if (seen.insert(model.systemId).second) rows.push_back(RowOf(model.systemId, list));
  }
  for (uint16_t id : PackableIds())
    if (seen.insert(id).second) rows.push_back(RowOf(id, list));
  return rows;
}

// The SystemID argument: a model number from 1 to 65535.
uint16_t ParseModelId(const std::string& text) {
  int32_t value = 0;
  try {
    value = SystemId_Parse(text);
  } catch (const SystemIdTextError& error) {
    throw UsageError(error.what());
  }
  if (value == 0) throw UsageError("\"" + text + "\" is no model: a SystemID is a number from 1 to 65535");
  return static_cast<uint16_t>(value);
}

// A place of the search as a full path: the first one is relative to the
// current folder.
std::string Shown(const std::string& place) {
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(PathFromUtf8(place), error);
  return error ? place : Utf8FromPath(full);
}

void PrintText(const std::vector<ModelRow>& rows, const ModelList* list) {
  if (const std::optional<std::string> file = ModelList_LoadedFile()) {
    std::printf("Model list: %s, %zu model records\n", Shown(*file).c_str(), list->models().size());
  } else {
    std::printf("No model list: Firmware.dat is in none of these places:\n");
    for (const std::string& place : ModelList_SearchPath()) std::printf("  %s\n", Shown(place).c_str());
    std::printf("Every model name is \"unknown SysID=N\".\n");
  }
  std::printf("SysID  Packable  Name\n");
  for (const ModelRow& row : rows)
    std::printf("%5u  %-8s  %s\n", static_cast<unsigned>(row.systemId), row.packable ? "yes" : "no",
                row.name.c_str());
  std::string packable;
  for (uint16_t id : PackableIds()) packable += (packable.empty() ? "" : ", ") + std::to_string(id);
  std::printf("Settings can be packed (built-in model header) for SystemIDs %s.\n", packable.c_str());
}

void PrintJson(const std::vector<ModelRow>& rows) {
  const std::optional<std::string> file = ModelList_LoadedFile();
  std::vector<std::string> searched;
  for (const std::string& place : ModelList_SearchPath()) searched.push_back(Shown(place));
  std::string json = "{\"modelList\":" + (file ? JsonString(Shown(*file)) : std::string("null")) +
                     ",\"searched\":" + JsonList(searched) + ",\"models\":[";
  for (size_t i = 0; i < rows.size(); ++i) {
    const ModelRow& row = rows[i];
    json += std::string(i ? "," : "") + "{\"systemId\":" + std::to_string(row.systemId) +
            ",\"name\":" + JsonString(row.name) + ",\"inList\":" + JsonBool(row.inList) +
            ",\"packable\":" + JsonBool(row.packable) + "}";
  }
  std::printf("%s]}\n", json.c_str());
}

int RunModels(const std::vector<std::string>& args) {
  bool json = false;
  std::optional<uint16_t> id;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg == "--json") {
      json = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-' &&
               !std::isdigit(static_cast<unsigned char>(arg[1]))) {
      throw UsageError("unknown option \"" + arg + "\"");
    } else if (id) {
      throw UsageError("give one SystemID at most");
    } else {
      id = ParseModelId(arg);
    }
  }
  const ModelList* list = ModelList_Loaded();
  const std::vector<ModelRow> rows = id ? std::vector<ModelRow>{RowOf(*id, list)} : AllRows(list);
  if (json) {
    PrintJson(rows);
  } else {
    PrintText(rows, list);
  }
  return ExitStatus(Outcome::Done());
}

}  // namespace

const CliCommand kModelsCommand = {
    "models", "the model list in use, and the models whose settings can be packed",
    "usage: tolv models [--json] [SYSID]\n"
    "\n"
    "Names the model list in use (the first Firmware.dat found; where it is\n"
    "looked for: \"tolv --help\"), or, without one, every place it was looked\n"
    "for. Then lists each SystemID of the list, in the list's order, with its\n"
    "model name and whether settings can be packed for it (STD, TFD, flash dump,\n"
    "upload): that needs a model header built into the program. SystemIDs that\n"
    "can be packed but are not in the list follow, named \"unknown SysID=N\".\n"
    "With SYSID, shows that one only, listed or not.\n"
    "\n"
    "  --json   one JSON object on one line: \"modelList\" (the file, or null),\n"
    "           \"searched\" (the places, in order) and \"models\", each with\n"
    "           \"systemId\", \"name\", \"inList\" and \"packable\"\n"
    "\n"
    "Exit status: 0; 1 when the model list cannot be read; 2 when the command\n"
    "line is wrong.\n"
    "\n"
    "Examples:\n"
    "  tolv models\n"
    "  tolv models 406\n"
    "  tolv models --json | jq '.models[] | select(.packable)'\n",
    &RunModels};

}  // namespace tolv::cli
