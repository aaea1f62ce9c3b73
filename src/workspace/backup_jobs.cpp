// The plan, the read-back compare and the closing advice of a restore.
#include "workspace/backup_jobs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "workspace/backup_diff.h"
#include "workspace/backup_folder.h"

namespace tolv {
namespace {

double BytesPerSecond(const std::string& port) {
  const bool usb = port == "USB" || port == "usb";
  return usb ? 1000000.0 : 115200.0 / 10.0;
}

// How one component read back differs from what was sent; empty when it
// does not.
std::string Difference(const Workspace& sent, const Workspace& read, const BlockOutcome& block) {
  const ComponentKind kind = block.kind;
  const std::string name = ComponentName(kind);
  if (!block.stored) return name + " could not be read back (" + block.failure + ")";
  const std::vector<uint8_t>& a = sent.Image(kind);
  const std::vector<uint8_t>& b = read.Image(kind);
  const uint64_t end =
      a.size() == b.size() ? ReadBack_ComparedBytes(kind, a.size()) : std::max(a.size(), b.size());
  const BytesDiff diff = CompareBytes(a, b, 0, end);
  if (diff.Same()) return {};
  return name + " (" + std::to_string(diff.differing) +
         (diff.differing == 1 ? " byte differs" : " bytes differ") + ", the first at offset " +
         std::to_string(diff.first.value_or(0)) + ")";
}

}  // namespace

DownloadRequest Backup_Request(const std::string& port, bool log) {
  DownloadRequest request;
  request.port = port;
  for (ComponentKind kind : kAllComponents)
    request.selection[static_cast<size_t>(kind)] = kind != ComponentKind::Background;
  request.log = log;
  request.reportFailures = false;
  request.readLoaderTwice = true;
  return request;
}

std::vector<int64_t> Backup_JobBlocks() {
  std::vector<int64_t> blocks;
  for (ComponentKind kind : kAllComponents)
    if (kind != ComponentKind::Background) blocks.push_back(Transfer_WireSize(kind));
  blocks.insert(blocks.begin() + 1, Transfer_WireSize(ComponentKind::Loader));  // read twice
  return blocks;
}

std::string Backup_MissingText(const DownloadReport& report,
                               const std::function<std::string(std::string)>& plain) {
  if (report.modeResult != 0) return "the receiver did not answer";
  for (const BlockOutcome& block : report.blocks) {
    if (block.readsDiffer) return "the Loader is not trustworthy: " + block.failure;
    if (!block.stored)
      return std::string(ComponentName(block.kind)) + " did not arrive (" +
             (plain ? plain(block.failure) : block.failure) + ")";
  }
  return "not every component arrived";
}

std::string Backup_CompleteText(const std::string& dir, int count) {
  return "Backup complete: " + dir + " (" + std::to_string(count) + " components, verified)";
}

std::string Backup_FailedText(const std::string& reason, const std::string& dir) {
  return "No backup was made: " + reason + ". Nothing was left in \"" + dir + "\".";
}

std::string Backup_LeftoverText(const std::string& path) {
  return "Removed \"" + path + "\", left by a backup that did not end.";
}

double Send_UploadSeconds(int64_t imageShare, const std::string& port) {
  // The receiver asks for the image in pieces: a few bytes of framing each.
  return static_cast<double>(imageShare) * 1.02 / BytesPerSecond(port);
}

double Send_ReadBackSeconds(ComponentKind kind, int64_t imageShare, const std::string& port) {
  if (kind == ComponentKind::Background) return 0;
  // The firmware comes back compressed as it went; the others as their
  // blocks, asked for chunk by chunk (255 bytes on a serial line).
  const int64_t bytes = kind == ComponentKind::Firmware ? imageShare : Transfer_WireSize(kind);
  return static_cast<double>(bytes) * 1.1 / BytesPerSecond(port);
}

std::string Send_DurationText(double seconds) {
  const long total = std::lround(std::max(0.0, seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

RestorePlan Restore_Plan(Workspace& workspace, const ComponentSelection& selection, const std::string& port) {
  RestorePlan plan;
  const ComponentBytes shares = Transfer_UploadShares(workspace, selection);
  for (ComponentKind kind : kAllComponents) {
    const size_t k = static_cast<size_t>(kind);
    if (!selection[k]) continue;
    const double seconds = Send_UploadSeconds(shares[k], port);
    plan.sendSeconds += seconds;
    plan.readBackSeconds += Send_ReadBackSeconds(kind, shares[k], port);
    plan.lines.push_back({kind, workspace.Image(kind).size(), seconds});
  }
  return plan;
}

ComponentSelection ReadBack_Selection(const std::vector<ComponentKind>& sent) {
  ComponentSelection selection{};
  for (ComponentKind kind : sent)
    if (kind != ComponentKind::Background) selection[static_cast<size_t>(kind)] = true;
  return selection;
}

std::string ReadBack_Sort(const Workspace& sent, const Workspace& read, const DownloadReport& back,
                          SendResult& result) {
  std::string differ;
  for (const BlockOutcome& block : back.blocks) {
    const std::string difference = Difference(sent, read, block);
    if (!difference.empty()) {
      differ += (differ.empty() ? "" : "; ") + difference;
      if (block.kind == ComponentKind::Loader)
        result.loader = block.stored ? LoaderFate::kWrong : LoaderFate::kUnknown;
      continue;
    }
    result.checked.push_back(block.kind);
    std::erase(result.unchecked, block.kind);
    if (block.kind == ComponentKind::Loader) result.loader = LoaderFate::kVerified;
  }
  return differ;
}

std::string Restore_NameList(const std::vector<ComponentKind>& kinds) {
  std::string list;
  for (ComponentKind kind : kinds) list += (list.empty() ? "" : ", ") + std::string(ComponentName(kind));
  return list;
}

bool Restore_LoaderSuspect(const SendResult& result) {
  return result.loader == LoaderFate::kWrong || result.loader == LoaderFate::kUnknown;
}

std::vector<std::string> Restore_HeldLines(const SendResult& result) {
  std::vector<std::string> lines;
  if (!result.sendStarted || result.outcome.IsDone()) return lines;
  if (!result.checked.empty())
    lines.push_back("The receiver now holds, sent whole and checked: " + Restore_NameList(result.checked) +
                    ".");
  if (!result.unchecked.empty())
    lines.push_back("Not checked (sent, or partly sent): " + Restore_NameList(result.unchecked) + ".");
  return lines;
}

std::vector<std::string> Restore_LoaderAdvice(const SendResult& result, const std::string& resendLoader,
                                              const std::string& sendRestAgain) {
  if (!Restore_LoaderSuspect(result)) return {};
  std::vector<std::string> lines = {
      std::string("Its loader ") +
      (result.loader == LoaderFate::kWrong ? "read back wrong" : "was sent but not checked") +
      ": do not restart the receiver or switch it off, or it may never start again. Leave it on "
      "and send the loader again: " +
      resendLoader};
  const bool more = std::any_of(result.unchecked.begin(), result.unchecked.end(),
                                [](ComponentKind kind) { return kind != ComponentKind::Loader; });
  if (more && !result.outcome.IsDone()) lines.push_back(sendRestAgain);
  return lines;
}

}  // namespace tolv
