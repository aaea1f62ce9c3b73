#include "soak_run.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include "common/file_io.h"
#include "soak_data.h"
#include "soak_process.h"
#include "soak_random.h"

namespace tolv::soak {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The dump folder's file of each component.
const char* const kDumpNames[kParts] = {"loader.bin", "firmware.bin", "flash.dmp",
                                        "eeprom.bin", "defaults.dmp", "background.bin"};

std::string BinName(int part) { return std::string(PartWord(part)) + ".bin"; }

Contents ReadContents(const std::string& path) {
  if (!fs::is_regular_file(path)) return {};
  return {true, ReadFileBytes(path)};
}

// Inputs go into a run's own new folder: written plainly, without the
// library's folder lock (see ForkMutex).
void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!file.flush()) throw std::runtime_error("cannot write " + path);
}

std::string FolderName(const RunPlan& plan, int index) {
  char name[64];
  std::snprintf(name, sizeof name, "run-%04d-%016llx", index, static_cast<unsigned long long>(plan.seed));
  return name;
}

// The run's folder: the emulator's memory in seed/, its dump in dump/, and
// for a download the outputs tolv finds there already (some components have
// an older file, which must survive a failure), for an upload its inputs.
// Returns the outputs' contents before the run.
std::map<int, Contents> PrepareFolder(const RunPlan& plan, const RunBytes& bytes, const std::string& folder) {
  for (const char* sub : {"seed", "dump", "out", "inputs"}) fs::create_directories(folder + "/" + sub);
  {
    // Its saves lock the folder: no child may be forked holding that lock.
    std::lock_guard lock(ForkMutex());
    sim::Memory_Dump(bytes.start, folder + "/seed");
  }
  std::map<int, Contents> before;
  SoakRandom random(plan.seed ^ 0x01D0F11E5ull);
  for (const auto& [part, file] : bytes.files) {
    if (plan.direction == Direction::Upload) {
      Write(folder + "/inputs/" + BinName(part), file);
      continue;
    }
    if (!random.Chance(50)) continue;
    std::vector<uint8_t> old(file.size() - (random.Chance(20) ? 1 : 0));
    for (uint8_t& byte : old) byte = static_cast<uint8_t>(random.Next());
    Write(folder + "/out/" + BinName(part), old);
    before[part] = {true, old};
  }
  return before;
}

// Runs the transfer: tolv on the emulator's pseudo-terminal, or under the
// emulator on its USB bus. Fills end and status of facts; tolv's seconds.
std::string FileText(const std::string& path) {
  const Contents contents = ReadContents(path);
  return std::string(contents.bytes.begin(), contents.bytes.end());
}

class Driver {
 public:
  Driver(const RunPlan& plan, const SoakSetup& setup, std::string folder)
      : plan_(plan), setup_(setup), folder_(std::move(folder)) {}

  // The plan's Ctrl-C was sent (not the one that answers a wait for a pulled cable).
  bool sentCtrlC() const { return ctrlC_; }

  double Run(RunFacts& facts) {
    std::vector<std::string> emulator = {setup_.binDir + "/toppy-sim", "--seed", "seed", "--dump", "dump"};
    const std::vector<std::string> faults = EmulatorFaultArgs(plan_, setup_.profile);
    emulator.insert(emulator.end(), faults.begin(), faults.end());
    return plan_.transport == Transport::Usb ? RunOnUsb(emulator, facts) : RunOnPty(emulator, facts);
  }

 private:
  std::vector<std::string> Tolv(const std::string& port) const {
    std::vector<std::string> argv = {setup_.binDir + "/tolv"};
    const std::vector<std::string> args = TolvArgs(plan_, port, setup_.log);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  double RunOnPty(const std::vector<std::string>& emulator, RunFacts& facts) {
    SoakProcess sim(emulator, folder_, "", folder_ + "/sim.err");
    const std::string port = sim.ReadLine(20000).value_or("");
    if (port.rfind("/dev/", 0) != 0)
      throw std::runtime_error("toppy-sim did not start (see " + folder_ + "/sim.err)");
    const double seconds = Watch(Tolv(port), /*group=*/false, facts);
    // The emulator finishes what it confirmed, then dumps its memory.
    sim.Signal(SIGTERM);
    if (!sim.Wait(30000) || sim.signalled() || sim.status() != 0)
      throw std::runtime_error("toppy-sim did not end cleanly (see " + folder_ + "/sim.err)");
    return seconds;
  }

  double RunOnUsb(std::vector<std::string> argv, RunFacts& facts) {
    argv.insert(argv.begin() + 1, "--usb");
    argv.push_back("--");
    const std::vector<std::string> tolv = Tolv("USB");
    argv.insert(argv.end(), tolv.begin(), tolv.end());
    const double seconds = Watch(argv, /*group=*/true, facts);
    // The emulator ends with tolv and gives its status, 128 + N for signal N,
    // which it then says (tolv itself exits 130 after a Ctrl-C).
    if (facts.end == RunFacts::End::kExited && facts.status > 128 && facts.status < 128 + 65 &&
        FileText(folder_ + "/tolv.err").find("toppy-sim: the command was ended by signal") !=
            std::string::npos) {
      facts.end = RunFacts::End::kSignalled;
      facts.status -= 128;
    }
    return seconds;
  }

  // Runs argv until it ends or outlives the bound; the Ctrl-C of the plan
  // goes to the process (or, as a terminal sends it, to its whole group).
  double Watch(const std::vector<std::string>& argv, bool group, RunFacts& facts) {
    const auto start = Clock::now();
    SoakProcess process(argv, folder_, folder_ + "/tolv.out", folder_ + "/tolv.err");
    const auto bound =
        start + std::chrono::milliseconds(static_cast<int64_t>(HangBoundSeconds(plan_) * 1000));
    const int interruptMs = plan_.faults.interruptAfterMs;
    bool interrupted = false;
    while (!process.Wait(10)) {
      const auto now = Clock::now();
      const bool due = interruptMs >= 0 && now >= start + std::chrono::milliseconds(interruptMs);
      if (!interrupted && (due || AsksToReconnect())) {
        group ? process.SignalGroup(SIGINT) : process.Signal(SIGINT);
        interrupted = true;
        ctrlC_ = due;
      }
      if (now < bound) continue;
      // Ended as a user would end it, then for good.
      process.Signal(SIGTERM);
      if (!process.Wait(5000)) process.SignalGroup(SIGKILL);
      process.Wait(10000);
      facts.end = RunFacts::End::kKilledAfterBound;
      return std::chrono::duration<double>(Clock::now() - start).count();
    }
    facts.end = process.signalled() ? RunFacts::End::kSignalled : RunFacts::End::kExited;
    facts.status = process.status();
    return std::chrono::duration<double>(Clock::now() - start).count();
  }

  // After the cable was pulled tolv may wait for the receiver to come back,
  // and say so ("Waiting for the receiver on PORT: switch it on or reconnect
  // the cable; Ctrl-C stops."): the soak answers as its user would, with
  // Ctrl-C. (The pulled cable stays out.)
  bool AsksToReconnect() const {
    if (plan_.faults.unplugAfter < 0) return false;
    // The file appears only once the process has opened it.
    const Contents err = ReadContents(folder_ + "/tolv.err");
    return std::string(err.bytes.begin(), err.bytes.end()).find("Waiting for the receiver on ") !=
           std::string::npos;
  }

  const RunPlan& plan_;
  const SoakSetup& setup_;
  const std::string folder_;
  bool ctrlC_ = false;
};

// How long the link waits for one chunk's reply before it gives the block
// up: on a serial line 300 ms of silence and four more reads of 50 ms, on USB
// five reads of 200 ms. A reply later than this is the receiver silent past
// the link's time-out.
constexpr int kSerialChunkPatienceMs = 500;
constexpr int kUsbChunkPatienceMs = 1000;

// The cause of a clear failure, from the emulator's events (on USB its
// standard error is tolv's), the Ctrl-C sent and tolv's last words.
FailureCause CauseOf(const RunPlan& plan, const std::string& folder, bool ctrlC) {
  const std::string tolvErr = FileText(folder + "/tolv.err");
  const std::string events = plan.transport == Transport::Usb ? tolvErr : FileText(folder + "/sim.err");
  FailureEvidence evidence;
  evidence.cablePulled = events.find("cable pulled") != std::string::npos;
  evidence.interrupted = ctrlC;
  const int patience = plan.transport == Transport::Usb ? kUsbChunkPatienceMs : kSerialChunkPatienceMs;
  evidence.silentPastTimeout =
      plan.direction == Direction::Download && plan.faults.late > 0 && plan.faults.lateMs > patience &&
      tolvErr.find("the receiver stopped answering (code 2403)") != std::string::npos;
  return ClassifyFailure(evidence);
}

// Files in dir that are not named in names.
std::vector<std::string> Litter(const std::string& dir, const std::vector<std::string>& names) {
  std::vector<std::string> litter;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (std::find(names.begin(), names.end(), name) == names.end()) litter.push_back(dir + "/" + name);
  }
  return litter;
}

void CheckDownload(const RunPlan& plan, const RunBytes& bytes, const std::map<int, Contents>& before,
                   const std::string& folder, RunFacts& facts) {
  std::vector<std::string> names;
  for (int part : plan.parts) {
    const std::string name = BinName(part);
    names.push_back(name);
    const auto old = before.find(part);
    facts.items.push_back(CheckItem("out/" + name, ReadContents(folder + "/out/" + name),
                                    old == before.end() ? Contents{} : old->second,
                                    Contents{true, bytes.files.at(part)}));
  }
  facts.litter = Litter(folder + "/out", names);
}

void CheckUpload(const RunBytes& bytes, const std::string& folder, RunFacts& facts) {
  facts.allOrNothing = true;
  for (int part = 0; part < kParts; ++part) {
    Contents found = ReadContents(folder + "/dump/" + kDumpNames[part]);
    if (found.present && (part == 2 || part == 4)) found.bytes = UnpackedImage(part, found.bytes);
    facts.items.push_back(CheckItem(std::string("receiver's ") + PartWord(part), found,
                                    Contents{true, ComponentFile(bytes.start, part)},
                                    Contents{true, ComponentFile(bytes.after, part)}));
  }
  std::vector<std::string> names;
  for (const auto& [part, file] : bytes.files) {
    names.push_back(BinName(part));
    const Contents given{true, file};
    facts.items.push_back(CheckItem("inputs/" + BinName(part),
                                    ReadContents(folder + "/inputs/" + BinName(part)), given, given));
  }
  facts.litter = Litter(folder + "/inputs", names);
  for (const std::string& file : Litter(folder + "/out", {})) facts.litter.push_back(file);
}

// Sabotaged runs are to end as silent corruption, the others to pass.
bool AsExpected(Verdict verdict, const SoakProfile& profile) {
  if (profile.sabotage) return verdict == Verdict::kSilentCorruption || verdict == Verdict::kClearFailure;
  return !VerdictFailsSoak(verdict);
}

}  // namespace

std::vector<std::string> TolvArgs(const RunPlan& plan, const std::string& port, bool log) {
  std::vector<std::string> args;
  if (plan.direction == Direction::Download) {
    std::string only;
    for (int part : plan.parts) only += (only.empty() ? "" : ",") + std::string(PartWord(part));
    args = {"download", "--port", port, "--only", only, "-o", "out/"};
  } else {
    // The soak judges the receiver's memory itself: no read-back, and the
    // loader's own question answered.
    args = {"upload", "--port", port, "--sysid", std::to_string(kSoakSystemId), "--yes", "--no-verify"};
    for (int part : plan.parts) args.push_back(std::string(PartWord(part)) + "=inputs/" + BinName(part));
  }
  if (log) args.push_back("--log");
  return args;
}

RunResult ExecuteRun(const RunPlan& plan, const SoakSetup& setup, int index) {
  RunResult result;
  result.plan = plan;
  const std::string folder = setup.workDir + "/" + FolderName(plan, index);
  const RunBytes bytes = MakeRunBytes(plan);
  const std::map<int, Contents> before = PrepareFolder(plan, bytes, folder);
  RunFacts facts;
  Driver driver(plan, setup, folder);
  result.seconds = driver.Run(facts);
  if (plan.direction == Direction::Download)
    CheckDownload(plan, bytes, before, folder, facts);
  else
    CheckUpload(bytes, folder, facts);
  result.judgement = Judge(facts);
  if (result.judgement.verdict == Verdict::kClearFailure)
    result.cause = CauseOf(plan, folder, driver.sentCtrlC());
  if (setup.keepAll || !AsExpected(result.judgement.verdict, setup.profile) ||
      result.cause == FailureCause::kOther) {
    result.folder = folder;
  } else {
    fs::remove_all(folder);
  }
  return result;
}

}  // namespace tolv::soak
