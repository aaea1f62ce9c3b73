// Shared helpers of the test programs.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "workspace/outcome.h"
#include "workspace/user_interaction.h"

namespace tolv {

// An outcome in a test's failure message: its kind and reasons.
inline void PrintTo(const Outcome& outcome, std::ostream* os) {
  static const char* const kNames[] = {"nothing to do", "done", "cancelled", "failed"};
  *os << kNames[static_cast<int>(outcome.kind)];
  for (const std::string& reason : outcome.reasons) *os << " \"" << reason << "\"";
}

}  // namespace tolv

namespace tolv::test {

// A fresh empty directory, removed with everything in it at the end of scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// Changes the current directory for the length of a scope.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::string& dir);
  ~ScopedCurrentDir();
  ScopedCurrentDir(const ScopedCurrentDir&) = delete;
  ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

 private:
  std::string previous_;
};

// The shared real-world test data folder (../shared/testdata beside the
// project), or nothing when it is absent, as in a user's clone. Tests that need
// it start with TOLV_SKIP_WITHOUT_SHARED_TESTDATA().
std::optional<std::string> SharedTestdataDir();
#define TOLV_SKIP_WITHOUT_SHARED_TESTDATA()                                                 \
  do {                                                                                      \
    if (!::tolv::test::SharedTestdataDir()) GTEST_SKIP() << "../shared/testdata is absent"; \
  } while (0)

// Folder of this project's own committed test inputs (tests/data).
std::string ProjectTestdataDir();

// Directory holding the built programs (tolv, toppy-sim, ...).
std::string BuildBinDir();

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool Exists(const std::string& path);
uint64_t SizeOf(const std::string& path);

// Deterministic pseudo-random bytes.
std::vector<uint8_t> RandomBytes(uint32_t seed, size_t count);

// Machine code: the bytes of a system executable, at least count bytes long
// (repeated when the file is shorter), cut to count.
std::vector<uint8_t> MachineCode(size_t count);

// English-like text of count bytes.
std::vector<uint8_t> Text(size_t count);

// Runs a command line of the system's shell (sh, or cmd.exe on Windows);
// returns its exit status and, if wanted, its output (standard output and
// standard error together).
int RunCommand(const std::string& command, std::string* output = nullptr);

// Whether part occurs in text.
bool Contains(const std::string& text, const std::string& part);

// The lines of text, without their line ends.
std::vector<std::string> Lines(const std::string& text);

// A program's exit status and what it wrote to standard output and error.
struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs program (a path without the system's ".exe") with args in the folder
// cwd, without a shell, standard input empty. args are separated by spaces;
// an argument holding spaces is written in single quotes ("info 's [13].bin'").
// environment: "NAME=value" entries that the program gets on top of this
// process's environment ("NAME=" sets an empty value).
ProgramRun RunProgram(const std::string& program, const std::string& args, const std::string& cwd,
                      const std::vector<std::string>& environment = {});

// The words of an args line of RunProgram.
std::vector<std::string> SplitArguments(const std::string& line);

// Runs program with args in cwd, and with the environment entries of
// RunProgram, standard output into the file outPath and standard error into
// errPath; the exit status, -1 when it did not run. One implementation per
// platform.
int RunProgramInto(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                   const std::vector<std::string>& environment, const std::string& outPath,
                   const std::string& errPath);

// The ending of program files: ".exe" on Windows, empty elsewhere.
std::string ProgramSuffix();

// path with each "/" as the system's own separator ("\" on Windows), as the
// program shows paths that it makes itself.
std::string NativePath(const std::string& path);

// Sets an environment variable of this process for the length of a scope,
// and restores the earlier value (or its absence) afterwards. On Windows an
// empty value removes the variable, as the C runtime does. One
// implementation per platform.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const std::string& name, const std::string& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// Makes the existing file at path unreadable for this process for the length
// of a scope (its permissions taken away; for the superuser it is set aside
// behind a link to a file that refuses every reader; on Windows it is held
// open for no one else), and gives it back afterwards. active() is false
// where that cannot be done: such a test skips.
class UnreadableFile {
 public:
  explicit UnreadableFile(const std::string& path);
  ~UnreadableFile();
  UnreadableFile(const UnreadableFile&) = delete;
  UnreadableFile& operator=(const UnreadableFile&) = delete;
  bool active() const { return active_; }

 private:
  std::string path_;
  bool active_ = false;
  bool keptAside_ = false;  // POSIX superuser: the file lies at path + ".kept"
  void* handle_ = nullptr;
};

// A program of the operating system itself (/bin/sh; cmd.exe on Windows),
// as a sample of machine code.
std::string SystemProgramPath();

// UserInteraction that records what was shown and answers from a script.
// Questions without a scripted answer are answered No; inputs without one
// return the preset (as a cancelled box does).
class ScriptedInteraction : public UserInteraction {
 public:
  struct Event {
    enum class Kind { Information, Message, Notice, Question, Input } kind;
    std::string text;  // the message, question or prompt
    bool operator==(const Event&) const = default;
  };

  void AnswerQuestion(bool yes) { answers_.push_back(yes); }
  void AnswerInput(const std::string& text) { inputs_.push_back(text); }

  void Information(const std::string& text) override;
  void Message(const std::string& text) override;
  void Notice(const std::string& text) override;
  bool Question(const std::string& text) override;
  std::string InputText(const std::string& caption, const std::string& prompt,
                        const std::string& preset) override;

  const std::vector<Event>& events() const { return events_; }
  // Texts of every event, in order.
  std::vector<std::string> Texts() const;
  void Clear() { events_.clear(); }
  bool AllAnswersUsed() const { return answers_.empty() && inputs_.empty(); }

 private:
  std::vector<Event> events_;
  std::deque<bool> answers_;
  std::deque<std::string> inputs_;
};

}  // namespace tolv::test
