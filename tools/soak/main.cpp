// tolv-soak: many downloads and uploads of tolv against toppy-sim with faults
// drawn at random, each run classed by what came out of it.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "common/file_io.h"
#include "soak_process.h"
#include "soak_random.h"
#include "soak_report.h"

namespace {

using namespace tolv::soak;
namespace fs = std::filesystem;

constexpr const char* kUsage = R"(usage: tolv-soak [OPTIONS]

Runs downloads and uploads of tolv against the receiver emulator toppy-sim,
over its pseudo-terminal and its emulated USB bus, with faults drawn at random
(late, slow, dropped and corrupted replies, junk on the line, the cable pulled,
Ctrl-C) and every numbering of the receiver's replies that the emulator knows.
Each run is classed:
  correct            exit status 0 and every byte where it belongs
  clear failure      exit status 1; every file and the receiver as before, or right
  unclean            exit status 1 with something half-written, gone or
                     left behind, or an upload taken in part (or litter
                     after exit status 0)
  silent corruption  a byte wrong: after exit status 0, or after 1 in a file
                     tolv wrote whole or in what the receiver took
  false success      exit status 0 and something not transferred
  crash              ended by a signal, or another exit status
  hang               outlived three times its expected time; ended
The seed of every run is printed; --replay runs one of them again.

  --runs N            transfers (default 20)
  --seed S            seed of the soak (default: from the clock)
  --replay SEED       only the run of this seed (give the same profile options)
  --jobs N            runs at once (default 1)
  --bin DIR           folder of tolv and toppy-sim (default: this program's)
  --work DIR          folder for the runs' folders (default: a new one in $TMPDIR)
  --keep              keep every run's folder (those that fail are always kept)
  --log               tolv writes its link log into each run's folder
Profile (every draw depends on it):
  --transports LIST   pty,usb (default: both where the emulator makes a USB bus)
  --directions LIST   download,upload (default: both)
  --seq LIST          numberings: echo, own, newest, none (default: those the
                      emulator knows)
  --line-seconds S    a run's data takes about S seconds on a paced line (default 3)
  --max-faults N      faults per run, about 1 to N (default 8)
  --sabotage          the soak checks itself: every run a download of the
                      loader from an emulator that garbles data behind good
                      checksums; exit status 0 only when each run came out as
                      silent corruption (or a clear failure) and one at least
                      as silent corruption

Exit status: 0 when no run was unclean, silent corruption, false success,
crash or hang; 1 when one was; 2 for a wrong command line; 3 when the soak
could not run.
)";

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Options {
  int runs = 20;
  std::optional<uint64_t> seed;
  std::optional<uint64_t> replay;
  int jobs = 1;
  std::string workDir;
  SoakSetup setup;
  bool transportsGiven = false, seqGiven = false;
};

uint64_t ParseSeed(const std::string& option, const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || errno != 0)
    throw UsageError(option + " needs a number, not \"" + text + "\"");
  return value;
}

double ParseNumber(const std::string& option, const std::string& text, double low, double high) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value >= low && value <= high))
    throw UsageError(option + " needs a number from " + std::to_string(static_cast<long>(low)) + " to " +
                     std::to_string(static_cast<long>(high)));
  return value;
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::stringstream stream(text);
  for (std::string item; std::getline(stream, item, ',');) items.push_back(item);
  return items;
}

template <typename T>
std::vector<T> ParseWords(const std::string& option, const std::string& text,
                          const std::vector<std::pair<std::string, T>>& words) {
  std::vector<T> values;
  for (const std::string& item : SplitList(text)) {
    const auto found =
        std::find_if(words.begin(), words.end(), [&](const auto& w) { return w.first == item; });
    if (found == words.end()) throw UsageError(option + ": unknown \"" + item + "\"");
    values.push_back(found->second);
  }
  if (values.empty()) throw UsageError(option + " needs a list");
  return values;
}

bool ParseProfileOption(const std::string& option, const std::string& value, Options& options) {
  SoakProfile& profile = options.setup.profile;
  if (option == "--transports") {
    profile.transports =
        ParseWords<Transport>(option, value, {{"pty", Transport::Pty}, {"usb", Transport::Usb}});
    options.transportsGiven = true;
  } else if (option == "--directions") {
    profile.directions = ParseWords<Direction>(
        option, value, {{"download", Direction::Download}, {"upload", Direction::Upload}});
  } else if (option == "--seq") {
    profile.numberings = ParseWords<std::string>(
        option, value, {{"echo", "echo"}, {"own", "own"}, {"newest", "newest"}, {"none", "none"}});
    options.seqGiven = true;
  } else if (option == "--line-seconds") {
    profile.lineSeconds = ParseNumber(option, value, 0.1, 600);
  } else if (option == "--max-faults") {
    profile.maxFaults = static_cast<int>(ParseNumber(option, value, 1, 1000));
  } else {
    return false;
  }
  return true;
}

bool ParseValueOption(const std::string& option, const std::string& value, Options& options) {
  if (option == "--runs")
    options.runs = static_cast<int>(ParseNumber(option, value, 1, 1000000));
  else if (option == "--seed")
    options.seed = ParseSeed(option, value);
  else if (option == "--replay")
    options.replay = ParseSeed(option, value);
  else if (option == "--jobs")
    options.jobs = static_cast<int>(ParseNumber(option, value, 1, 64));
  else if (option == "--bin")
    options.setup.binDir = value;
  else if (option == "--work")
    options.workDir = value;
  else
    return ParseProfileOption(option, value, options);
  return true;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::cout << kUsage;
      std::exit(0);
    }
    if (option == "--keep")
      options.setup.keepAll = true;
    else if (option == "--log")
      options.setup.log = true;
    else if (option == "--sabotage")
      options.setup.profile.sabotage = true;
    else if (i + 1 < argc && ParseValueOption(option, argv[i + 1], options))
      ++i;
    else
      throw UsageError("unknown option or missing value: " + option);
  }
  if (options.setup.binDir.empty()) options.setup.binDir = tolv::ExecutableDirectory();
  // The programs run in the runs' folders.
  options.setup.binDir = fs::absolute(options.setup.binDir).lexically_normal().string();
  return options;
}

}  // namespace

namespace {

// What the emulator in binDir can do.
struct Abilities {
  bool randomFaults = false;  // --random-faults and the other soak switches
  bool seqSwitch = false;     // --seq MODE
  bool usb = false;           // --usb makes a bus here
  std::string usbWhyNot;
};

Abilities Probe(const std::string& binDir, const std::string& workDir) {
  Abilities abilities;
  const std::string emulator = binDir + "/toppy-sim";
  {
    SoakProcess help({emulator, "--help"}, workDir, "", workDir + "/probe.err");
    while (const std::optional<std::string> line = help.ReadLine(10000)) {
      if (line->find("--random-faults") != std::string::npos) abilities.randomFaults = true;
      if (line->find("--seq MODE") != std::string::npos) abilities.seqSwitch = true;
    }
    if (help.Wait(10000) && help.status() == 127) throw std::runtime_error("cannot run " + emulator);
  }
  SoakProcess usb({emulator, "--usb", "--quiet", "--", "/bin/true"}, workDir, workDir + "/probe.out",
                  workDir + "/probe.err");
  abilities.usb = usb.Wait(30000) && !usb.signalled() && usb.status() == 0;
  if (!abilities.usb) {
    const std::vector<uint8_t> err = tolv::ReadFileBytes(workDir + "/probe.err");
    abilities.usbWhyNot = std::string(err.begin(), err.end());
    while (!abilities.usbWhyNot.empty() && abilities.usbWhyNot.back() == '\n') abilities.usbWhyNot.pop_back();
  }
  fs::remove(workDir + "/probe.out");
  fs::remove(workDir + "/probe.err");
  return abilities;
}

// Fits the profile to the emulator: the numberings it knows, USB where it
// works. A profile asked for that the emulator cannot give is an error.
void FitProfile(Options& options, const Abilities& abilities) {
  SoakProfile& profile = options.setup.profile;
  if (!abilities.randomFaults)
    throw std::runtime_error(options.setup.binDir +
                             "/toppy-sim does not know --random-faults: build it again");
  profile.seqSwitch = abilities.seqSwitch;
  if (!options.seqGiven)
    profile.numberings = abilities.seqSwitch ? std::vector<std::string>{"echo", "own", "newest", "none"}
                                             : std::vector<std::string>{"echo", "own"};
  for (const std::string& numbering : profile.numberings)
    if (!abilities.seqSwitch && numbering != "echo" && numbering != "own")
      throw std::runtime_error("this toppy-sim has no --seq: it numbers its replies only by echo or own");
  const bool usbAsked = std::find(profile.transports.begin(), profile.transports.end(), Transport::Usb) !=
                        profile.transports.end();
  if (usbAsked && !abilities.usb) {
    if (options.transportsGiven) throw std::runtime_error("no USB runs here: " + abilities.usbWhyNot);
    std::cout << "USB runs left out: " << abilities.usbWhyNot << "\n";
    profile.transports = {Transport::Pty};
  }
}

std::string MakeWorkDir(const std::string& asked) {
  if (!asked.empty()) {
    fs::create_directories(asked);
    return fs::absolute(asked).string();
  }
  std::string pattern = (fs::temp_directory_path() / "tolv-soak-XXXXXX").string();
  if (!mkdtemp(pattern.data()))
    throw std::runtime_error("cannot make a folder in " + fs::temp_directory_path().string());
  return pattern;
}

std::vector<uint64_t> RunSeeds(const Options& options, uint64_t soakSeed) {
  if (options.replay) return {*options.replay};
  SoakRandom random(soakSeed);
  std::vector<uint64_t> seeds;
  for (int i = 0; i < options.runs; ++i) seeds.push_back(random.Next());
  return seeds;
}

// Runs every plan on options.jobs threads, printing each run as it ends.
// Throws what stopped the soak (the emulator failing).
void RunAll(const std::vector<RunPlan>& plans, const Options& options, SoakTally& tally) {
  std::atomic<size_t> next{0};
  std::mutex mutex;
  std::string fatal;
  const auto work = [&] {
    for (size_t i = next++; i < plans.size(); i = next++) {
      try {
        const RunResult result = ExecuteRun(plans[i], options.setup, static_cast<int>(i + 1));
        std::lock_guard lock(mutex);
        tally.Add(result);
        std::cout << RunLines(static_cast<int>(i + 1), static_cast<int>(plans.size()), result);
        if (VerdictFailsSoak(result.judgement.verdict))
          std::printf("      replay: scripts/soak --replay 0x%016llx %s\n",
                      static_cast<unsigned long long>(result.plan.seed),
                      ProfileOptions(options.setup.profile).c_str());
        std::cout.flush();
        std::fflush(stdout);
      } catch (const std::exception& e) {
        std::lock_guard lock(mutex);
        if (fatal.empty()) fatal = e.what();
        next = plans.size();
      }
    }
  };
  std::vector<std::thread> threads;
  for (int j = 1; j < options.jobs; ++j) threads.emplace_back(work);
  work();
  for (std::thread& thread : threads) thread.join();
  if (!fatal.empty()) throw std::runtime_error(fatal);
}

// --sabotage: the soak caught the garbled data when no run passed as correct
// and at least one was classed silent corruption.
int SabotageStatus(const SoakTally& tally) {
  const bool caught =
      tally.count(Verdict::kSilentCorruption) > 0 && tally.count(Verdict::kCorrect) == 0 &&
      tally.count(Verdict::kSilentCorruption) + tally.count(Verdict::kClearFailure) == tally.runs();
  std::cout << (caught ? "The soak caught the garbled data.\n" : "The soak MISSED the garbled data.\n");
  return caught ? 0 : 1;
}

int Run(Options& options) {
  options.setup.workDir = MakeWorkDir(options.workDir);
  FitProfile(options, Probe(options.setup.binDir, options.setup.workDir));
  const uint64_t soakSeed = options.seed.value_or(static_cast<uint64_t>(
      std::chrono::system_clock::now().time_since_epoch().count() ^ (static_cast<uint64_t>(getpid()) << 40)));
  std::vector<RunPlan> plans;
  for (uint64_t seed : RunSeeds(options, soakSeed)) plans.push_back(MakePlan(seed, options.setup.profile));
  std::printf("Soak of %zu transfers, seed 0x%016llx, %d at once; %s\nRuns in %s\n", plans.size(),
              static_cast<unsigned long long>(soakSeed), options.jobs,
              ProfileOptions(options.setup.profile).c_str(), options.setup.workDir.c_str());
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  SoakTally tally;
  RunAll(plans, options, tally);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("\n%d transfers in %.0f s (seed 0x%016llx)\n%s", tally.runs(), seconds,
              static_cast<unsigned long long>(soakSeed), tally.Tables().c_str());
  // A folder of its own making goes when no run's folder was kept in it.
  std::error_code ignored;
  if (options.workDir.empty() && fs::is_empty(options.setup.workDir, ignored))
    fs::remove(options.setup.workDir, ignored);
  if (options.setup.profile.sabotage) return SabotageStatus(tally);
  return tally.failing() > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Options options = ParseOptions(argc, argv);
    return Run(options);
  } catch (const UsageError& e) {
    std::cerr << "tolv-soak: " << e.what() << "\n(tolv-soak --help explains the options)" << std::endl;
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "tolv-soak: " << e.what() << std::endl;
    return 3;
  }
}
