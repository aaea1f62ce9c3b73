// toppy-sim: an emulated receiver on a pseudo-terminal, for trying the tool
// and testing it without a real receiver.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/file_io.h"
#include "common/version.h"
#include "pty_port.h"
#include "receiver.h"
#include "usb_session.h"

namespace {

using namespace tolv::sim;

volatile sig_atomic_t gStopSignal = 0;
volatile sig_atomic_t gDumpSignal = 0;

extern "C" void OnStopSignal(int signal) { gStopSignal = signal; }
extern "C" void OnDumpSignal(int) { gDumpSignal = 1; }

constexpr const char* kUsage = R"(usage: toppy-sim [OPTIONS]

Plays a receiver (in its loader) on a pseudo-terminal. The first line printed
is the serial port to give the tool, e.g.  tolv download --port /dev/pts/4 ...
The receiver runs until interrupted (Ctrl-C); what it does goes to standard
error. It starts running normally: the tool's reboot command starts its loader.

Memory (default: built-in contents):
  --sysid N            SystemID of the receiver (default 406); a model
                       without a built-in header template gets a model
                       header made for N in its packed blocks
  --seed DIR           take loader.bin, firmware.bin, flash.bin or flash.dmp,
                       eeprom.bin, defaults.bin or defaults.dmp, background.bin
                       from DIR (each optional)
  --loader FILE  --firmware FILE  --flash FILE  --eeprom FILE
  --defaults FILE  --background FILE
                       one component (flash/defaults: unpacked image or packed
                       131072-byte block)
  --dump DIR           write the memory to DIR (loader.bin, firmware.bin,
                       flash.dmp, eeprom.bin, defaults.dmp, background.bin,
                       sysid.txt) after every accepted upload, on SIGUSR1 and
                       at exit; DIR is created at start when missing
Line and timing:
  --baud N             line rate (N/10 bytes per second; default 115200;
                       0 = as fast as possible)
  --boot-ms N          reboot until the loader speaks (default 1500)
  --mode-wait-ms N     how long the loader waits for the mode request
                       (default 3000)
  --idle-ms N          a session without requests ends after N ms (30000)
  --start-in-loader    start as if just rebooted
  --link PATH          also make PATH a symbolic link to the port
  --quiet              no event lines
Faults:
  --silent             never answer
  --ignore CMD[,CMD]   do not act on these commands (hexadecimal, e.g. 04)
  --drop-every N       leave out every Nth data reply
  --corrupt-every N    send every Nth data reply with a wrong checksum
  --delay-ms N         wait N ms before every reply
  --disconnect-after N pull the cable instead of data reply N+1
  --size-delta N       report every block N bytes longer (or shorter)
  --junk N             send N junk bytes before every reply
  --late-every N       send every Nth data reply late, after the tool's
                       time-outs, so that it asks again and gets both replies
  --late-ms N          how late (default 450)
  --duplicate-every N  send every Nth data reply twice, the copy at once
  --duplicate-late-every N
                       send every Nth data reply twice, the copy --late-ms
                       later (the receiver serves other requests meanwhile)
  --duplicate-sizes    send every block-size reply twice, the copy --late-ms
                       later
  --overtake-every N   hold every Nth data reply until the next data reply
                       has gone out: the tool asks again after its time-out,
                       and the answer to the repeat comes first
  --max-reply N        answer at most N data bytes per reply, whatever the
                       tool asks for
  --seq MODE           how replies are numbered: echo (the request's sequence
                       byte, the default), own (the receiver's own counter,
                       two up per reply), newest (the last sequence byte seen
                       when the reply goes out, so a late reply carries a
                       newer request's number), none (all 0)
  --own-seq            the same as --seq own
  --upload-piece N     upload: ask for the image in pieces of N bytes (at most
                       255 on a serial line), the last one past its end
  --upload-retry-ms N  upload: ask again after N ms without an answer
                       (default 1000)
  --random-faults LIST faults drawn at random for every packet of a transfer
                       (block size, data reply, upload request): KIND:PERCENT
                       items separated by commas, KIND one of drop, corrupt,
                       late (--late-ms late), slow (up to 120 ms late), junk
                       (up to 24 junk bytes before it; serial only),
                       duplicate, duplicate-late, overtake (block sizes and
                       data replies, as the switches above; overtake: data
                       only), e.g. drop:2,late:1.5,duplicate:1
  --fault-seed N       seed of the random faults (default 1): the same seed
                       draws the same faults for the same packets
  --unplug-after N     pull the cable instead of sending packet N+1 of the
                       transfers (block sizes, data replies and upload
                       requests together)
  --garble-every N     every Nth data reply carries one wrong data byte in a
                       packet whose checksum holds (a receiver that misreads
                       its memory): wrong data no host can notice
  --any-sysid          take uploads made for any model
  --store-wrong KIND   store one byte of KIND (loader, firmware, flash,
                       eeprom, defaults, background) wrong whenever an
                       accepted upload carries it, as a failing flash would

  --help               this text;  --version  the version
)";

struct Options {
  ReceiverOptions receiver;
  uint16_t systemId = 406;
  uint32_t baud = 115200;
  std::string seedDir, dumpDir, linkPath;
  std::vector<std::pair<SimBlockType, std::string>> components;
  bool quiet = false;
  UsbSessionOptions usb;
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

long ParseNumber(const std::string& option, const std::string& text, long low, long high, int base = 10) {
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, base);
  if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high) {
    throw UsageError(option + " needs a number from " + std::to_string(low) + " to " + std::to_string(high) +
                     ", not \"" + text + "\"");
  }
  return value;
}

void ParseIgnored(const std::string& list, FaultSwitches& faults) {
  std::stringstream stream(list);
  for (std::string item; std::getline(stream, item, ',');) {
    faults.ignoredCommands.set(static_cast<size_t>(ParseNumber("--ignore", item, 0, 255, 16)));
  }
}

// A component's name as the tool writes it ("loader", ..., "background") to
// its block type.
int ParseBlockName(const std::string& option, const std::string& name) {
  static const char* const kNames[] = {"loader", "firmware", "flash", "eeprom", "defaults", "background"};
  for (int type = 0; type < kSimBlockTypes; ++type)
    if (name == kNames[type]) return type;
  throw UsageError(option + " needs loader, firmware, flash, eeprom, defaults or background, not \"" + name +
                   "\"");
}

ReplyNumbering ParseNumbering(const std::string& text) {
  if (const std::optional<ReplyNumbering> numbering = ReplyNumbering_Parse(text)) return *numbering;
  throw UsageError("--seq needs echo, own, newest or none, not \"" + text + "\"");
}

bool ParseComponentOption(const std::string& option, const std::string& value, Options& options) {
  static const std::pair<const char*, SimBlockType> kOptions[] = {
      {"--loader", kSimLoader}, {"--firmware", kSimFirmware}, {"--flash", kSimFlash},
      {"--eeprom", kSimEeprom}, {"--defaults", kSimDefaults}, {"--background", kSimBackground}};
  for (const auto& [name, type] : kOptions) {
    if (option == name) {
      options.components.emplace_back(type, value);
      return true;
    }
  }
  return false;
}

// The options of the faults drawn at random and the remaining value options.
bool ParseFaultDrawOption(const std::string& option, const std::string& value, Options& options) {
  FaultSwitches& faults = options.receiver.faults;
  const long kMax = 1000000000;
  if (option == "--random-faults") {
    try {
      faults.randomFaults = ParseRandomFaults(value);
    } catch (const std::invalid_argument& e) {
      throw UsageError(e.what());
    }
  } else if (option == "--fault-seed") {
    faults.faultSeed = static_cast<uint64_t>(ParseNumber(option, value, 0, LONG_MAX, 0));
  } else if (option == "--unplug-after") {
    faults.unplugAfterPackets = static_cast<int>(ParseNumber(option, value, 0, kMax));
  } else if (option == "--garble-every") {
    faults.garbleEveryNthData = static_cast<int>(ParseNumber(option, value, 0, kMax));
  } else if (option == "--upload-retry-ms") {
    options.receiver.timing.uploadReplyTimeoutMs = static_cast<int>(ParseNumber(option, value, 1, 600000));
  } else {
    return ParseComponentOption(option, value, options);
  }
  return true;
}

bool ParseValueOption(const std::string& option, const std::string& value, Options& options) {
  ReceiverTiming& timing = options.receiver.timing;
  FaultSwitches& faults = options.receiver.faults;
  const long kMax = 1000000000;
  if (option == "--sysid")
    options.systemId = static_cast<uint16_t>(ParseNumber(option, value, 1, 65535));
  else if (option == "--seed")
    options.seedDir = value;
  else if (option == "--dump")
    options.dumpDir = value;
  else if (option == "--link")
    options.linkPath = value;
  else if (option == "--baud")
    options.baud = static_cast<uint32_t>(ParseNumber(option, value, 0, 100000000));
  else if (option == "--boot-ms")
    timing.bootMs = static_cast<int>(ParseNumber(option, value, 0, kMax));
  else if (option == "--mode-wait-ms")
    timing.modeWaitMs = static_cast<int>(ParseNumber(option, value, 0, kMax));
  else if (option == "--idle-ms")
    timing.sessionIdleMs = static_cast<int>(ParseNumber(option, value, 1, kMax));
  else if (option == "--ignore")
    ParseIgnored(value, faults);
  else if (option == "--drop-every")
    faults.dropEveryNthData = static_cast<int>(ParseNumber(option, value, 0, kMax));
  else if (option == "--corrupt-every")
    faults.corruptEveryNthData = static_cast<int>(ParseNumber(option, value, 0, kMax));
  else if (option == "--delay-ms")
    faults.replyDelayMs = static_cast<int>(ParseNumber(option, value, 0, kMax));
  else if (option == "--disconnect-after")
    faults.disconnectAfterData = static_cast<int>(ParseNumber(option, value, 0, kMax));
  else if (option == "--size-delta")
    faults.blockSizeDelta = static_cast<int32_t>(ParseNumber(option, value, -0xFFFFFF, 0xFFFFFF));
  else if (option == "--junk")
    faults.junkBeforeReplies = static_cast<int>(ParseNumber(option, value, 0, 4096));
  else if (option == "--late-every")
    faults.lateEveryNthData = static_cast<int>(ParseNumber(option, value, 0, kMax));
  else if (option == "--late-ms")
    faults.lateMs = static_cast<int>(ParseNumber(option, value, 0, 60000));
  else if (option == "--duplicate-every")
    faults.duplicateEveryNthData = static_cast<int>(ParseNumber(option, value, 0, kMax));
  else if (option == "--duplicate-late-every")
    faults.duplicateLateEveryNthData = static_cast<int>(ParseNumber(option, value, 0, kMax));
  else if (option == "--overtake-every")
    faults.overtakeEveryNthData = static_cast<int>(ParseNumber(option, value, 0, kMax));
  else if (option == "--max-reply")
    faults.maxReplyBytes = static_cast<int>(ParseNumber(option, value, 0, 0xFFFF));
  else if (option == "--store-wrong")
    faults.storeWrongBlock = ParseBlockName(option, value);
  else if (option == "--seq")
    faults.numbering = ParseNumbering(value);
  else if (option == "--upload-piece")
    faults.uploadPiece = static_cast<size_t>(ParseNumber(option, value, 0, 0xFFFF));
  else
    return ParseFaultDrawOption(option, value, options);
  return true;
}

bool ParseUsbArgument(int argc, char** argv, int& i, UsbSessionOptions& usb) {
  const std::vector<std::string> args(argv, argv + argc);
  size_t at = static_cast<size_t>(i);
  try {
    if (!ParseUsbOption(args, at, usb)) return false;
  } catch (const std::invalid_argument& e) {
    throw UsageError(e.what());
  }
  i = static_cast<int>(at);
  return true;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::cout << kUsage << kUsbUsage;
      std::exit(0);
    }
    if (option == "--version") {
      std::cout << "toppy-sim " << tolv::kVersion << "\n";
      std::exit(0);
    }
    if (option == "--") {
      options.usb.command.assign(argv + i + 1, argv + argc);
      break;
    }
    if (ParseUsbArgument(argc, argv, i, options.usb)) continue;
    if (option == "--silent")
      options.receiver.faults.silent = true;
    else if (option == "--any-sysid")
      options.receiver.faults.acceptAnySystemId = true;
    else if (option == "--duplicate-sizes")
      options.receiver.faults.duplicateSizes = true;
    else if (option == "--own-seq")
      options.receiver.faults.numbering = ReplyNumbering::Own;
    else if (option == "--start-in-loader")
      options.receiver.startInLoader = true;
    else if (option == "--quiet")
      options.quiet = true;
    else if (i + 1 < argc && ParseValueOption(option, argv[i + 1], options))
      ++i;
    else
      throw UsageError("unknown option or missing value: " + option);
  }
  return options;
}

ReceiverMemory SeedMemory(const Options& options) {
  ReceiverMemory memory = ReceiverMemory::Builtin(options.systemId);
  if (!options.seedDir.empty()) {
    if (!std::filesystem::is_directory(options.seedDir)) {
      throw std::runtime_error("--seed " + options.seedDir + ": no such folder");
    }
    Memory_LoadDirectory(memory, options.seedDir);
  }
  for (const auto& [type, path] : options.components) Memory_LoadComponent(memory, type, path);
  return memory;
}

// Writes the receiver's memory into the --dump folder (nothing without one).
// Dumps come from the receiver's thread (an accepted upload) and from the main
// one (SIGUSR1, exit). They run one at a time, each writing the memory as it
// is when it starts: two at once would leave a mix of old and new files, and
// the last one written could be older than one before it.
class MemoryDumper {
 public:
  explicit MemoryDumper(std::string dir) : dir_(std::move(dir)) {}

  void Dump(const Receiver& receiver) {
    if (dir_.empty()) return;
    std::lock_guard lock(mutex_);
    try {
      Memory_Dump(receiver.MemorySnapshot(), dir_);
    } catch (const std::exception& e) {
      std::cerr << "toppy-sim: cannot dump the memory: " << e.what() << std::endl;
    }
  }

 private:
  const std::string dir_;
  std::mutex mutex_;
};

// Prints the receiver's events (unless quiet) and dumps its memory after every
// accepted upload. dumper must outlive the receiver's thread.
void WatchEvents(SimulatedReceiver& sim, const Options& options, MemoryDumper& dumper) {
  const bool quiet = options.quiet;
  sim.receiver().SetEventSink([&sim, &dumper, quiet](const std::string& event) {
    if (!quiet) std::cerr << "toppy-sim: " << event << std::endl;
    if (event.find("image accepted") != std::string::npos) dumper.Dump(sim.receiver());
  });
}

// The dump at exit: the receiver is stopped first, so that an upload it has
// confirmed is in its memory (and dumped) before the last dump is written.
void StopAndDump(SimulatedReceiver& sim, MemoryDumper& dumper) {
  sim.Stop();
  dumper.Dump(sim.receiver());
}

// --usb: the receiver on an emulated USB bus while the command runs.
int RunUsb(const Options& options) {
  ReceiverMemory memory = SeedMemory(options);
  MemoryDumper dumper(options.dumpDir);
  std::unique_ptr<SimulatedReceiver> sim;
  const int status = RunUsbSession(
      options.usb,
      [&](std::unique_ptr<ReceiverPort> port) {
        sim = std::make_unique<SimulatedReceiver>(std::move(port), std::move(memory), options.receiver);
        WatchEvents(*sim, options, dumper);
      },
      gStopSignal);
  if (sim) StopAndDump(*sim, dumper);
  return status;
}

// The dump folder exists from the start, so that it can be watched or
// listed before the first dump; one that cannot be made ends the run now.
void MakeDumpDir(const std::string& dir) {
  if (dir.empty()) return;
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error || !std::filesystem::is_directory(dir))
    throw std::runtime_error("--dump " + dir + ": cannot make the folder" +
                             (error ? ": " + error.message() : std::string()));
}

int Run(const Options& options) {
  if (options.usb.enabled != !options.usb.command.empty())
    throw UsageError(options.usb.enabled ? "--usb needs a command after --, e.g. -- tolv ports"
                                         : "a command after -- needs --usb");
  MakeDumpDir(options.dumpDir);
  if (options.usb.enabled) return RunUsb(options);
  ReceiverMemory memory = SeedMemory(options);
  auto port = std::make_unique<PtyReceiverPort>(options.baud / 10);
  const std::string path = port->SlavePath();
  if (!options.linkPath.empty()) {
    unlink(options.linkPath.c_str());
    if (symlink(path.c_str(), options.linkPath.c_str()) != 0) {
      throw std::runtime_error("cannot make the link " + options.linkPath + ": " + std::strerror(errno));
    }
  }
  MemoryDumper dumper(options.dumpDir);
  SimulatedReceiver sim(std::move(port), std::move(memory), options.receiver);
  WatchEvents(sim, options, dumper);
  std::cout << path << std::endl;
  while (!gStopSignal) {
    if (gDumpSignal) {
      gDumpSignal = 0;
      dumper.Dump(sim.receiver());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  StopAndDump(sim, dumper);
  if (!options.linkPath.empty()) unlink(options.linkPath.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGINT, OnStopSignal);
  signal(SIGTERM, OnStopSignal);
  signal(SIGUSR1, OnDumpSignal);
  signal(SIGPIPE, SIG_IGN);
  try {
    return Run(ParseOptions(argc, argv));
  } catch (const UsageError& e) {
    std::cerr << "toppy-sim: " << e.what() << "\n(toppy-sim --help explains the options)" << std::endl;
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "toppy-sim: " << e.what() << std::endl;
    return 1;
  }
}
