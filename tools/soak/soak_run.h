// One run of the soak, carried out: its folder made, the emulator and tolv
// run with the plan's options, and the outcome judged from tolv's exit, the
// files it wrote and the receiver's memory afterwards.
#pragma once

#include <string>

#include "soak_plan.h"
#include "soak_verdict.h"

namespace tolv::soak {

struct SoakSetup {
  std::string binDir;   // holds tolv and toppy-sim
  std::string workDir;  // the runs' folders are made here
  SoakProfile profile;
  bool log = false;      // tolv writes its link log (TolvPack.log) in the run's folder
  bool keepAll = false;  // keep the folder of every run, not only of those that fail the soak
};

struct RunResult {
  RunPlan plan;
  Judgement judgement;
  FailureCause cause = FailureCause::kNone;  // of a clear failure; else kNone
  double seconds = 0;                        // tolv's time, from its start to its end
  std::string folder;                        // the run's folder when kept, else empty
};

// Carries out the run of plan in the folder workDir/run-INDEX-SEED and
// judges it, a clear failure with its cause. The folder is removed afterwards
// unless the run fails the soak (a sabotaged one: unless it ends as silent
// corruption or a clear failure), is a clear failure of another cause than
// those planned, or keepAll is set. May run on several threads at once. Throws
// std::runtime_error when the emulator cannot be started or a file of the
// run cannot be written: that says nothing about tolv.
RunResult ExecuteRun(const RunPlan& plan, const SoakSetup& setup, int index);

// tolv's arguments for the plan (after the program's name): the transfer to
// or from port, with the outputs in "out/" or the inputs from "inputs/".
std::vector<std::string> TolvArgs(const RunPlan& plan, const std::string& port, bool log);

}  // namespace tolv::soak
