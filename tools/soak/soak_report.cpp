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
  text += Format("  ->  %s  %.1f s\n", VerdictName(result.judgement.verdict), result.seconds);
  if (VerdictFailsSoak(result.judgement.verdict)) {
    text += "      " + result.judgement.reason + "\n";
  }
  if (!result.folder.empty()) text += "      kept: " + result.folder + "\n";
  return text;
}

void SoakTally::Add(const RunResult& result) {
  const auto verdict = static_cast<size_t>(result.judgement.verdict);
  ++runs_;
  if (VerdictFailsSoak(result.judgement.verdict)) ++failing_;
  ClassTime& time = byVerdict_[verdict];
  ++time.runs;
  time.totalSeconds += result.seconds;
  if (result.seconds > time.maxSeconds) time.maxSeconds = result.seconds;
  const RunPlan& plan = result.plan;
  const std::string transfer = std::string(plan.transport == Transport::Usb ? "usb " : "pty ") +
                               (plan.direction == Direction::Download ? "download" : "upload");
  ++byKind_[transfer][verdict];
  ++byKind_["seq " + plan.numbering][verdict];
}

std::string SoakTally::Tables() const {
  std::string text =
      Format("%-18s %6s %7s %8s %8s %9s\n", "class", "runs", "share", "mean s", "max s", "total s");
  for (int v = 0; v < kVerdictCount; ++v) {
    const ClassTime& time = byVerdict_[static_cast<size_t>(v)];
    const double share = runs_ ? 100.0 * time.runs / runs_ : 0;
    const double mean = time.runs ? time.totalSeconds / time.runs : 0;
    text += Format("%-18s %6d %6.1f%% %8.1f %8.1f %9.1f\n", VerdictName(static_cast<Verdict>(v)), time.runs,
                   share, mean, time.maxSeconds, time.totalSeconds);
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
