// Model identification: receiver model names by system ID, from the model
// description file "Firmware.dat" (read only), and the one shared model-name
// text that the window shows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolv {

// Longest model name kept; longer names are cut to this many characters.
inline constexpr size_t kModelNameMax = 100;

// The model records of a "Firmware.dat" image. Numbers in the file are
// big-endian: a 20-byte header whose fields at 12 and 16 count the model
// records (348 bytes each, system ID at 0, zero-terminated name of up to 256
// bytes at 4) and the records of a second table (72 bytes each).
class ModelList {
 public:
  // Parses fileBytes. Never reads outside them: a file shorter than its header
  // holds no models, and one shorter than its counts claim is read as far as
  // whole model records go.
  static ModelList Parse(const std::vector<uint8_t>& fileBytes);

  // Name of the first record with systemId (cut to kModelNameMax characters),
  // or nothing when no record has it.
  std::optional<std::string> Find(uint16_t systemId) const;

  size_t size() const { return models_.size(); }

  struct Model {
    uint16_t systemId;
    std::string name;  // cut to kModelNameMax characters
  };
  // Every model record in file order (a system ID may come more than once;
  // Find gives the first).
  const std::vector<Model>& models() const { return models_; }

 private:
  std::vector<Model> models_;
};

// What decides where the model description file is looked for: the
// program's directory and the XDG base directory variables, as found.
struct ModelSearchSettings {
  std::string programDirectory;  // with its trailing separator; empty: unknown
  std::string dataHome;          // $XDG_DATA_HOME; empty when unset
  std::string home;              // $HOME; empty when unset
  std::string dataDirs;          // $XDG_DATA_DIRS (a colon-separated list); empty when unset
};

// The places searched for "Firmware.dat", in the order tried:
//   1. "Firmware.dat" in the current directory;
//   2. the program's directory (skipped when unknown);
//   3. $XDG_DATA_HOME/tolvpack/ ($HOME/.local/share/tolvpack/ when
//      XDG_DATA_HOME is unset, empty or not an absolute path; skipped when
//      HOME is unusable too);
//   4. DIR/tolvpack/ for each DIR of $XDG_DATA_DIRS in its order
//      (/usr/local/share:/usr/share when unset or empty); entries that are
//      not absolute paths are skipped.
// Returns the file paths (the first one relative to the current directory).
std::vector<std::string> ModelList_SearchPath(const ModelSearchSettings& settings);

// The places searched for "Firmware.dat" by this process, in the order
// tried. On POSIX systems ModelList_SearchPath(settings) with the
// executable's directory and the environment. On Windows:
//   1. "Firmware.dat" in the current directory;
//   2. the program's directory (skipped when unknown);
//   3. %APPDATA%\tolvpack\ (the user's roaming application data);
//   4. %PROGRAMDATA%\tolvpack\ (application data for every user);
// each of the last two skipped when its variable is unset or not an
// absolute path.
std::vector<std::string> ModelList_SearchPath();

// The largest Firmware.dat read: 4 MiB, room for 12,000 models of 348 bytes.
inline constexpr uint64_t kModelListMaxSize = 4u << 20;

// Loads the process's model list once, from the first place of
// ModelList_SearchPath() that holds a file; a file larger than
// kModelListMaxSize is not read and gives a list of no model. Without a file anywhere the list
// stays unloaded and the search is repeated on the next call. Throws FileError
// when the file found cannot be read (the list stays unloaded).
void ModelList_Load();

// The process's model list (ModelList_Load first), or nullptr when no file
// was found; valid until the list is unloaded (only tests do).
const ModelList* ModelList_Loaded();

// The path the process's model list was loaded from, as ModelList_SearchPath
// gave it; nothing while no list is loaded.
std::optional<std::string> ModelList_LoadedFile();

// The model name of the low 16 bits of systemId, or "unknown SysID=%d" with
// those 16 bits, using the process's model list.
std::string ModelList_Lookup(uint32_t systemId);

// ModelList_Lookup into the shared model-name text, which is returned and
// stays valid until the next call that writes it (this one or a packer).
const char* Model_GetName(int32_t systemId);

// Model_GetName for a display that must not stop half-way: when the model
// file exists but cannot be read, the shared text becomes "unknown SysID=%d"
// (as without a file) and the read error's text is stored in error; otherwise
// error is left as it was. The list stays unloaded after such an error, so the
// next call tries the file again.
const char* Model_GetNameOrUnknown(int32_t systemId, std::string& error);

// The shared model-name text as it stands; the packers write built-in names
// into it (cut to kModelNameMax characters).
const char* Model_NameText();
void Model_SetNameText(const std::string& name);

// The program's directory as the search uses it: the executable's directory,
// or the one a test put in its place.
std::string ModelList_ProgramDirectory();

namespace testing {
// Forgets the loaded model list, so that the next lookup searches again.
void ModelList_Unload();
// Makes the search look in dir instead of the executable's directory (dir ends
// with a separator); std::nullopt restores the executable's directory. Lets
// tests control the second place without touching the build folder.
void ModelList_OverrideProgramDirectory(std::optional<std::string> dir);
}  // namespace testing

}  // namespace tolv
