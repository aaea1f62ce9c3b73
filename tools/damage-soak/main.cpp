// tolv-damage-soak: damages files of every form and checks that each load
// refuses the damage, names it, or gives the known image (see damage_soak.h).
#include <unistd.h>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <utility>
#include <vector>

#include "damage_soak.h"

namespace {

using tolv::damage::CaseResult;
using tolv::damage::Damage;
using tolv::damage::Form;
using tolv::damage::Verdict;

constexpr const char* kUsage =
    "usage: tolv-damage-soak [--cases N] [--seed S] [--replay SEED] [--dir DIR] [--verbose]\n"
    "\n"
    "Writes files of every form (STD, flash dump, TFD, BIN files, flash block\n"
    "files, Firmware.dat, backup folders) with the project's savers from images\n"
    "whose bytes it knows, damages\n"
    "them (flips, cuts, extensions, directory entries unused, moved, swapped,\n"
    "doubled, the entry count, chunk sizes with every CRC recomputed, the\n"
    "SystemID), loads them again and classes each case: refused, named, equal\n"
    "to the known image, uncovered (differs only in bytes no checksum covers),\n"
    "or silent (bytes a checksum covers differ and nothing was said). It also\n"
    "checks that \"tolv info\" and \"tolv verify\" judge each file as the load\n"
    "did, that \"tolv diff\" names exactly the bytes that differ from the known\n"
    "images, and that a convert of what was loaded (written as STD, dump, TFD\n"
    "or BIN and read again) is equal, refused or named. Case i has the seed\n"
    "S + i; --replay runs one case again.\n"
    "\n"
    "Exit status: 0 when no case is silent and every judgement agrees, 1\n"
    "otherwise, 2 for a wrong command line.\n";

struct Options {
  uint64_t cases = 200;
  uint64_t seed = 1;
  bool replay = false;
  bool verbose = false;
  std::string dir;
};

Options Parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--cases" && hasValue) {
      options.cases = std::strtoull(argv[++i], nullptr, 0);
    } else if (arg == "--seed" && hasValue) {
      options.seed = std::strtoull(argv[++i], nullptr, 0);
    } else if (arg == "--replay" && hasValue) {
      options.seed = std::strtoull(argv[++i], nullptr, 0);
      options.cases = 1;
      options.replay = true;
    } else if (arg == "--dir" && hasValue) {
      options.dir = argv[++i];
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else {
      std::fputs(kUsage, arg == "--help" ? stdout : stderr);
      std::exit(arg == "--help" ? 0 : 2);
    }
  }
  return options;
}

void PrintCase(const CaseResult& r, const char* what) {
  std::printf("%s: seed %llu, %s, %s (%s): %s%s%s\n", what, static_cast<unsigned long long>(r.seed),
              FormName(r.form), DamageName(r.damage), r.where.c_str(), VerdictName(r.verdict),
              r.loadSaid.empty() ? "" : "; load said: ", r.loadSaid.c_str());
  if (!r.inspectAgrees) std::printf("  info/verify: %s\n", r.inspectSays.c_str());
  if (!r.diffAgrees) std::printf("  diff: %s\n", r.diffSays.c_str());
  if (!r.convertAgrees) std::printf("  convert: %s\n", r.convertSays.c_str());
}

using Row = std::array<uint64_t, static_cast<size_t>(Verdict::kCount)>;

void PrintTable(const char* title, const std::vector<std::pair<std::string, Row>>& rows) {
  std::printf("\n| %-18s | refused | named | equal | uncovered | silent |\n", title);
  std::printf("|--------------------|--------:|------:|------:|----------:|-------:|\n");
  for (const auto& [name, row] : rows)
    std::printf("| %-18s | %7llu | %5llu | %5llu | %9llu | %6llu |\n", name.c_str(),
                static_cast<unsigned long long>(row[0]), static_cast<unsigned long long>(row[1]),
                static_cast<unsigned long long>(row[2]), static_cast<unsigned long long>(row[3]),
                static_cast<unsigned long long>(row[4]));
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(argc, argv);
  namespace fs = std::filesystem;
  const fs::path dir = options.dir.empty()
                           ? fs::temp_directory_path() / ("tolv-damage-soak-" + std::to_string(::getpid()))
                           : fs::path(options.dir);
  fs::create_directories(dir);
  std::vector<std::pair<std::string, Row>> forms, damages;
  for (int f = 0; f < static_cast<int>(Form::kCount); ++f)
    forms.push_back({FormName(static_cast<Form>(f)), {}});
  for (int d = 0; d < static_cast<int>(Damage::kCount); ++d)
    damages.push_back({DamageName(static_cast<Damage>(d)), {}});
  uint64_t silent = 0, disagree = 0, diffWrong = 0, convertWrong = 0;
  for (uint64_t i = 0; i < options.cases; ++i) {
    const CaseResult r = tolv::damage::RunCase(options.seed + i, dir.string());
    forms[static_cast<size_t>(r.form)].second[static_cast<size_t>(r.verdict)]++;
    damages[static_cast<size_t>(r.damage)].second[static_cast<size_t>(r.verdict)]++;
    const bool bad = r.verdict == Verdict::kSilent || !r.inspectAgrees || !r.diffAgrees || !r.convertAgrees;
    silent += r.verdict == Verdict::kSilent;
    disagree += !r.inspectAgrees;
    diffWrong += !r.diffAgrees;
    convertWrong += !r.convertAgrees;
    if (bad || options.verbose || options.replay) PrintCase(r, bad ? "FAULT" : "case");
  }
  if (options.dir.empty()) fs::remove_all(dir);
  std::printf(
      "\n%llu cases from seed %llu: %llu silent differences, %llu where info/verify disagree with the load,"
      " %llu where diff misnames a difference, %llu converts that changed the images silently\n",
      static_cast<unsigned long long>(options.cases), static_cast<unsigned long long>(options.seed),
      static_cast<unsigned long long>(silent), static_cast<unsigned long long>(disagree),
      static_cast<unsigned long long>(diffWrong), static_cast<unsigned long long>(convertWrong));
  PrintTable("form", forms);
  PrintTable("damage", damages);
  return silent == 0 && disagree == 0 && diffWrong == 0 && convertWrong == 0 ? 0 : 1;
}
