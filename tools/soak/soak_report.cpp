#include "soak_report.h"

#include <cstdio>

namespace tolv::soak {
namespace {

std::string Format(const char* format, auto... values) {
  char text[256];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

}  // namespace

std::string RunLines(int number, int total, const RunResult& result) {
  const int width = static_cast<int>(std::to_string(total).size());
  std::string text =
      Format("%*d/%d  0x%016llx  ", width, number, total, static_cast<unsigned long long>(result.plan.seed));
  text += DescribePlan(result.plan);
  const bool caused = result.cause != FailureCause::kNone;
  text += Format("  ->  %s%s%s%s  %.1f s\n", VerdictName(result.judgement.verdict), caused ? " (" : "",
                 CauseName(result.cause), caused ? ")" : "", result.seconds);
  if (VerdictFailsSoak(result.judgement.verdict) || result.cause == FailureCause::kOther) {
    text += "      " + result.judgement.reason + "\n";
  }
  if (!result.folder.empty()) text += "      kept: " + result.folder + "\n";
  return text;
}

void SoakTally::Add(const RunResult& result) {
  const auto verdict = static_cast<size_t>(result.judgement.verdict);
  ++runs_;
  if (VerdictFailsSoak(result.judgement.verdict)) ++failing_;
  byVerdict_[verdict].Add(result.seconds);
  if (result.cause != FailureCause::kNone) byCause_[static_cast<size_t>(result.cause)].Add(result.seconds);
  const RunPlan& plan = result.plan;
  const std::string transfer = std::string(plan.transport == Transport::Usb ? "usb " : "pty ") +
                               (plan.direction == Direction::Download ? "download" : "upload");
  ++byKind_[transfer][verdict];
  ++byKind_["seq " + plan.numbering][verdict];
}

std::string SoakTally::Tables() const {
  std::string text =
      Format("%-18s %6s %7s %8s %8s %9s\n", "class", "runs", "share", "mean s", "max s", "total s");
  const auto row = [this](const std::string& name, const ClassTime& time) {
    const double share = runs_ ? 100.0 * time.runs / runs_ : 0;
    const double mean = time.runs ? time.totalSeconds / time.runs : 0;
    return Format("%-18s %6d %6.1f%% %8.1f %8.1f %9.1f\n", name.c_str(), time.runs, share, mean,
                  time.maxSeconds, time.totalSeconds);
  };
  for (int v = 0; v < kVerdictCount; ++v) {
    text += row(VerdictName(static_cast<Verdict>(v)), byVerdict_[static_cast<size_t>(v)]);
    if (static_cast<Verdict>(v) != Verdict::kClearFailure) continue;
    // The clear failures by cause, the planned ones first.
    for (int c = 1; c < kFailureCauseCount; ++c)
      text +=
          row(std::string("  ") + CauseName(static_cast<FailureCause>(c)), byCause_[static_cast<size_t>(c)]);
  }
  text += "\n" + Format("%-14s", "runs by");
  const char* const kShort[kVerdictCount] = {"correct", "clear", "unclean", "silent",
                                             "false",   "crash", "hang"};
  for (const char* name : kShort) text += Format(" %8s", name);
  text += "\n";
  for (const auto& [kind, counts] : byKind_) {
    text += Format("%-14s", kind.c_str());
    for (int count : counts) text += Format(" %8d", count);
    text += "\n";
  }
  return text;
}

}  // namespace tolv::soak
