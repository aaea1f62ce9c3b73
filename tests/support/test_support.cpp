#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tolv::test {

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const { return path_ + "/" + name; }

ScopedCurrentDir::ScopedCurrentDir(const std::string& dir) : previous_(fs::current_path().string()) {
  fs::current_path(dir);
}

ScopedCurrentDir::~ScopedCurrentDir() {
  std::error_code ec;
  fs::current_path(previous_, ec);
}

std::optional<std::string> SharedTestdataDir() {
  std::string dir = TOLV_SHARED_TESTDATA_DIR;
  if (fs::is_directory(dir)) return fs::canonical(dir).string();
  return std::nullopt;
}

std::string ProjectTestdataDir() { return TOLV_PROJECT_TESTDATA_DIR; }

std::string BuildBinDir() { return TOLV_BUILD_BIN_DIR; }

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool Exists(const std::string& path) { return fs::exists(path); }

uint64_t SizeOf(const std::string& path) { return fs::file_size(path); }

std::vector<uint8_t> RandomBytes(uint32_t seed, size_t count) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

std::vector<uint8_t> MachineCode(size_t count) {
  std::vector<uint8_t> exe = ReadBytes(SystemProgramPath());
  std::vector<uint8_t> bytes;
  bytes.reserve(count);
  while (bytes.size() < count) {
    size_t take = std::min(exe.size(), count - bytes.size());
    bytes.insert(bytes.end(), exe.begin(), exe.begin() + static_cast<std::ptrdiff_t>(take));
  }
  return bytes;
}

std::vector<uint8_t> Text(size_t count) {
  static const std::string kText =
      "The receiver keeps its settings in flash memory: satellites, transponders, services, "
      "timers and favourite groups. Each section starts with a checksum of its own data, and "
      "the loader checks every one of them before it boots the firmware.\n";
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(kText[i % kText.size()]);
  return bytes;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> SplitArguments(const std::string& line) {
  std::vector<std::string> args;
  std::string arg;
  bool inArg = false, quoted = false;
  for (char c : line) {
    if (c == '\'') {
      quoted = !quoted;
      inArg = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inArg) args.push_back(arg);
      arg.clear();
      inArg = false;
    } else {
      arg += c;
      inArg = true;
    }
  }
  if (inArg) args.push_back(arg);
  return args;
}

ProgramRun RunProgram(const std::string& program, const std::string& args, const std::string& cwd,
                      const std::vector<std::string>& environment) {
  const TempDir capture;
  ProgramRun run;
  run.status = RunProgramInto(program, SplitArguments(args), cwd, environment, capture.File("out"),
                              capture.File("err"));
  const std::vector<uint8_t> out =
      Exists(capture.File("out")) ? ReadBytes(capture.File("out")) : std::vector<uint8_t>{};
  const std::vector<uint8_t> err =
      Exists(capture.File("err")) ? ReadBytes(capture.File("err")) : std::vector<uint8_t>{};
  run.out.assign(out.begin(), out.end());
  run.err.assign(err.begin(), err.end());
  return run;
}

void ScriptedInteraction::Information(const std::string& text) {
  events_.push_back({Event::Kind::Information, text});
}

void ScriptedInteraction::Message(const std::string& text) {
  events_.push_back({Event::Kind::Message, text});
}

void ScriptedInteraction::Notice(const std::string& text) { events_.push_back({Event::Kind::Notice, text}); }

bool ScriptedInteraction::Question(const std::string& text) {
  events_.push_back({Event::Kind::Question, text});
  if (answers_.empty()) return false;
  bool yes = answers_.front();
  answers_.pop_front();
  return yes;
}

std::string ScriptedInteraction::InputText(const std::string&, const std::string& prompt,
                                           const std::string& preset) {
  events_.push_back({Event::Kind::Input, prompt});
  if (inputs_.empty()) return preset;
  std::string text = inputs_.front();
  inputs_.pop_front();
  return text;
}

std::vector<std::string> ScriptedInteraction::Texts() const {
  std::vector<std::string> texts;
  for (const Event& e : events_) texts.push_back(e.text);
  return texts;
}

}  // namespace tolv::test
