#include "test_support.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tolv::test {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "tolv-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

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
  std::vector<uint8_t> exe = ReadBytes("/bin/sh");
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

int RunCommand(const std::string& command, std::string* output) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
  int status = ::pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ScriptedInteraction::Information(const std::string& text) {
  events_.push_back({Event::Kind::Information, text});
}

void ScriptedInteraction::Message(const std::string& text) { events_.push_back({Event::Kind::Message, text}); }

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
