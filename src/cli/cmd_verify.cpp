// tolv verify: the checksums a file carries, and nothing else.
#include <cstdio>

#include "cli/cli_command.h"
#include "cli/inspect.h"
#include "cli/steps.h"
#include "workspace/json_text.h"

namespace tolv::cli {

namespace {

// One line per file when all is well, one per fault otherwise.
void PrintVerdict(const FileReport& report) {
  const std::string shown = PrintableName(report.path);
  const char* file = shown.c_str();
  for (const ChecksumReport& c : report.checksums) {
    if (c.ok) continue;
    std::printf("%s: BAD %s %s CRC stored 0x%04X, computed 0x%04X\n", file, c.group.c_str(), c.name.c_str(),
                c.stored, c.computed);
  }
  for (const std::string& problem : report.problems) std::printf("%s: BAD %s\n", file, problem.c_str());
  for (const std::string& named : report.named) std::printf("%s: BAD %s\n", file, named.c_str());
  if (!report.AllOk()) return;
  if (report.checksums.empty()) {
    std::printf("%s: OK (%s, carries no checksums)\n", file, report.form.c_str());
  } else {
    std::printf("%s: OK (%s, %zu checksums)\n", file, report.form.c_str(), report.checksums.size());
  }
}

int RunVerify(const std::vector<std::string>& args) {
  bool json = false;
  const std::vector<std::string> files = ParseFileArguments(args, &json);
  Outcome outcome = Outcome::Done();
  const bool allRead = InspectArguments(files, [&](const FileReport& report) {
    if (json) {
      PrintReportJson(report, stdout);
    } else {
      PrintVerdict(report);
    }
    if (!report.AllOk()) outcome.Merge(Outcome::Failed(report.path + " is not sound"));
  });
  if (!allRead) outcome.Merge(Outcome::Failed("a file or folder cannot be read"));
  return ExitStatus(outcome);
}

}  // namespace

const CliCommand kVerifyCommand = {
    "verify", "check every checksum of files; exit status 1 when any is wrong",
    "usage: tolv verify [--json] FILE...\n"
    "\n"
    "Checks every checksum each file carries (TFD header and block CRCs,\n"
    "packed-block CRCs, section CRCs, EEPROM record CRCs) and that its packed\n"
    "settings unpack. Prints one line \"FILE: OK (...)\" per sound file, and one\n"
    "line \"FILE: BAD ...\" for each wrong checksum or fault, naming it. A folder\n"
    "(DIR/) stands for every KIND.bin in it, as \"tolv convert -o DIR/\" writes\n"
    "them; a backup folder (\"tolv backup\") is also checked whole, as \"tolv\n"
    "restore\" checks it: every file against SHA256SUMS, and its backup.tfd.\n"
    "\n"
    "  --json   one JSON object per file, on one line, as \"tolv info --json\"\n"
    "           prints it: every checksum with \"ok\", the problems, and \"ok\" for\n"
    "           the whole file\n"
    "\n"
    "Exit status: 0 when everything is right; 1 when any checksum is wrong or a\n"
    "file cannot be read or is of no known form, or a folder holds no KIND.bin.\n"
    "\n"
    "Examples:\n"
    "  tolv verify settings.std backup.dmp receiver.tfd\n"
    "  tolv verify backup/ && echo intact\n"
    "  tolv verify --json eeprom.bin\n",
    &RunVerify};

}  // namespace tolv::cli
