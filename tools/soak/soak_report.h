// What the soak prints: a line per run, and at the end the table of classes
// with the time each took (the clear failures also by cause), and the classes by transport, direction and the
// receiver's numbering.
#pragma once

#include <array>
#include <map>
#include <string>

#include "soak_run.h"

namespace tolv::soak {

// "  3/20  0x1a2b3c4d5e6f7788  pty download loader seq=own drop 1.2%  ->  correct  2.3 s"
// and, for a run that fails the soak, lines with the reason and its folder.
std::string RunLines(int number, int total, const RunResult& result);

class SoakTally {
 public:
  void Add(const RunResult& result);
  int runs() const { return runs_; }
  // Runs whose verdict fails the soak.
  int failing() const { return failing_; }
  // Runs with this verdict.
  int count(Verdict verdict) const { return byVerdict_[static_cast<size_t>(verdict)].runs; }
  // Clear failures of this cause.
  int count(FailureCause cause) const { return byCause_[static_cast<size_t>(cause)].runs; }
  std::string Tables() const;

 private:
  struct ClassTime {
    int runs = 0;
    double totalSeconds = 0;
    double maxSeconds = 0;
    void Add(double seconds) {
      ++runs;
      totalSeconds += seconds;
      if (seconds > maxSeconds) maxSeconds = seconds;
    }
  };
  int runs_ = 0;
  int failing_ = 0;
  std::array<ClassTime, kVerdictCount> byVerdict_{};
  std::array<ClassTime, kFailureCauseCount> byCause_{};  // the clear failures
  // "pty download", "usb upload", "seq own" ...: runs per verdict.
  std::map<std::string, std::array<int, kVerdictCount>> byKind_;
};

}  // namespace tolv::soak
