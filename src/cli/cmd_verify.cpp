// tolv verify: the checksums a file carries, and nothing else.
#include <cstdio>

#include "cli/cli_command.h"
#include "cli/inspect.h"
#include "cli/steps.h"

namespace tolv::cli {

namespace {

// One line per file when all is well, one per fault otherwise.
bool VerifyFile(const std::string& file) {
  FileReport report = InspectFile(file);
  for (const ChecksumReport& c : report.checksums) {
    if (c.ok) continue;
    std::printf("%s: BAD %s %s CRC stored 0x%04X, computed 0x%04X\n", file.c_str(), c.group.c_str(),
                c.name.c_str(), c.stored, c.computed);
  }
  for (const std::string& problem : report.problems)
    std::printf("%s: BAD %s\n", file.c_str(), problem.c_str());
  if (!report.AllOk()) return false;
  if (report.checksums.empty()) {
    std::printf("%s: OK (%s, carries no checksums)\n", file.c_str(), report.form.c_str());
  } else {
    std::printf("%s: OK (%s, %zu checksums)\n", file.c_str(), report.form.c_str(), report.checksums.size());
  }
  return true;
}

int RunVerify(const std::vector<std::string>& args) {
  int status = kExitOk;
  for (const std::string& file : ParseFileArguments(args)) {
    try {
      if (!VerifyFile(file)) status = kExitFailure;
    } catch (const std::exception& error) {
      std::fprintf(stderr, "%s\n", error.what());
      status = kExitFailure;
    }
  }
  return status;
}

}  // namespace

const CliCommand kVerifyCommand = {
    "verify", "check every checksum of files; exit status 1 when any is wrong",
    "usage: tolv verify FILE...\n"
    "\n"
    "Checks every checksum each file carries (TFD header and block CRCs,\n"
    "packed-block CRCs, section CRCs, EEPROM record CRCs) and that its packed\n"
    "settings unpack. Prints one line \"FILE: OK (...)\" per sound file, and one\n"
    "line \"FILE: BAD ...\" for each wrong checksum or fault, naming it.\n"
    "\n"
    "Exit status: 0 when everything is right; 1 when any checksum is wrong or a\n"
    "file cannot be read or is of no known form.\n"
    "\n"
    "Examples:\n"
    "  tolv verify settings.std backup.dmp receiver.tfd\n"
    "  tolv verify eeprom.bin && echo intact\n",
    &RunVerify};

}  // namespace tolv::cli
