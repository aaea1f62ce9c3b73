// From Toppy: fetching components from the receiver into the workspace.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "flash/checksums.h"
#include "flash/layout.h"
#include "flash/packed_block_check.h"
#include "flash/packing.h"
#include "link/comm.h"
#include "results/result_codes.h"
#include "workspace/flash_settings.h"
#include "workspace/transfers.h"
#include "workspace/transfers_internal.h"

namespace tolv {
namespace {

using transfer_detail::CancelWatch;
using transfer_detail::CloseOnUnwind;
using transfer_detail::LogScope;

constexpr const char* kUnpackFailed = "UnPackFlashData failed to unpack the flash block";

void SetStatusLine(const TransferHooks& hooks, const std::string& text) {
  if (hooks.statusLine) hooks.statusLine(text);
}

// Bytes a block takes on the wire, when known before it arrives: Flash and
// Defaults travel packed, the others as their image (the Firmware, sent as
// sections and expanded on arrival, has no fixed size: 0).
int64_t ExpectedWireSize(ComponentKind kind) {
  if (kind == ComponentKind::Flash || kind == ComponentKind::Defaults)
    return static_cast<int64_t>(kPackedBlockSize);
  return static_cast<int64_t>(ComponentImageSize(kind));
}

// A component of fixed size takes a block of exactly that size.
std::string StoreFixed(Workspace& workspace, ComponentKind kind, const uint8_t* data, int32_t size) {
  std::vector<uint8_t>& image = workspace.Image(kind);
  if (static_cast<size_t>(size) != image.size()) {
    return "the receiver sent " + std::to_string(size) + " bytes instead of " + std::to_string(image.size()) +
           "; not stored";
  }
  std::copy(data, data + size, image.begin());
  workspace.Present(kind) = true;
  return {};
}

std::string StoreFirmware(Workspace& workspace, const uint8_t* data, int32_t size) {
  // An empty firmware is a fault of the receiver, not a firmware: keep the
  // one the workspace holds.
  if (size <= 0) return "the receiver sent an empty firmware; not stored";
  workspace.Image(ComponentKind::Firmware).assign(data, data + size);
  workspace.Present(ComponentKind::Firmware) = true;
  return {};
}

// Flash and Defaults arrive packed; a block longer than the packed form is
// refused rather than cut, and the image changes only when the block passes
// the same judge as a file's (Workspace_TakePackedBlock): refused blocks are
// refused here too, and what a load names is named here too.
std::string StorePacked(Workspace& workspace, ComponentKind kind, const uint8_t* data, int32_t size,
                        std::string& note) {
  if (static_cast<size_t>(size) > kPackedBlockSize) {
    return "the receiver sent " + std::to_string(size) +
           " bytes, more than the 131072 of a packed block; not stored";
  }
  workspace.packedFlash.assign(kPackedBlockSize, 0);
  std::copy(data, data + size, workspace.packedFlash.begin());
  PackedLoadFindings findings;
  if (!Workspace_TakePackedBlock(workspace, kind, &findings)) {
    // Told in the download's summary, as every block not stored.
    return PackedLoad_FailureText(kUnpackFailed, findings);
  }
  // Named in the download's summary, beside the section checksums.
  for (const std::string& wrong : findings.wrongChecksums) note += (note.empty() ? "" : "; ") + wrong;
  for (std::string named : findings.named) {
    if (!named.empty() && named.back() == '.') named.pop_back();
    if (!named.empty()) named[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(named[0])));
    note += (note.empty() ? "" : "; ") + named;
  }
  return {};
}

std::string StoreBlock(Workspace& workspace, ComponentKind kind, const uint8_t* data, int32_t size,
                       std::string& note) {
  switch (kind) {
    case ComponentKind::Firmware: return StoreFirmware(workspace, data, size);
    case ComponentKind::Flash:
    case ComponentKind::Defaults: return StorePacked(workspace, kind, data, size, note);
    default: return StoreFixed(workspace, kind, data, size);
  }
}

// The EEPROM is kept as the receiver holds it; record checksums that do not
// match are told, not mended.
std::string EepromNote(const Workspace& workspace) {
  const std::vector<uint8_t>& eeprom = workspace.Image(ComponentKind::Eeprom);
  std::string records;
  for (const ChecksumCheck& check : Eeprom_CheckChecksums(eeprom.data(), eeprom.size())) {
    if (!check.Ok()) records += (records.empty() ? "" : ", ") + std::to_string(check.number);
  }
  return records.empty() ? std::string() : "its record checksums " + records + " do not match";
}

// The settings are kept as the receiver holds them, but saving them as an
// STD or TFD file or a flash dump rewrites the section checksums: the ones
// that do not match are told now, as a load tells them, or the damage would
// vanish unseen. Nothing to tell without a recognised layout.
std::string SectionNote(const Workspace& workspace, ComponentKind kind) {
  const std::vector<uint8_t>& image = workspace.Image(kind);
  const uint8_t variant = Flash_RecogniseLayout(image.data(), kDefaultsSettingsSize);
  if (variant == kLayoutNone) return {};
  std::string sections;
  for (const ChecksumCheck& check :
       Flash_CheckSectionChecksums(image.data(), kDefaultsSettingsSize, Layout_Sections(variant))) {
    if (check.Ok()) continue;
    char values[48];
    std::snprintf(values, sizeof values, " (stored 0x%04X, computed 0x%04X)", check.stored, check.computed);
    sections += (sections.empty() ? "" : ", ") + std::to_string(check.number) + values;
  }
  return sections.empty() ? std::string() : "its section checksums " + sections + " do not match";
}

// A cancel counts also when it came only after the last block: the user
// asked to stop, and what arrived is not to be taken further.
Outcome DownloadOutcome(const DownloadReport& report) {
  if (report.outcome.IsCancelled()) return Outcome::Cancelled(Transfer_Summary(report));
  if (report.AllStored()) return Outcome::Done();
  // A receiver that never answered, or stopped answering (a pulled cable),
  // was not reached; a block that came but could not be taken is another
  // failure.
  bool lost = report.modeResult != result::kOk;
  bool differ = false;
  for (const BlockOutcome& block : report.blocks) {
    lost = lost || block.result == result::kTransferTimeout;
    differ = differ || block.readsDiffer;
  }
  const FailureCause cause =
      lost ? FailureCause::kNotReached : (differ ? FailureCause::kReadBackDiffers : FailureCause::kOther);
  return Outcome::Failed(Transfer_Summary(report), cause);
}

// The Loader fetched a second time and compared with the first read, which
// the workspace holds; on a difference the Loader is failed and made absent.
void ReadLoaderAgain(Link& link, Workspace& workspace, uint8_t* buffer, int32_t capacity,
                     const TransferHooks& hooks, BlockOutcome& first) {
  if (!first.stored) return;
  if (hooks.blockStarting)
    hooks.blockStarting(ComponentKind::Loader, ExpectedWireSize(ComponentKind::Loader));
  int32_t size = 0;
  first.result = link.TransferBlock(static_cast<uint8_t>(ComponentKind::Loader), buffer, capacity, &size);
  std::vector<uint8_t>& loader = workspace.Image(ComponentKind::Loader);
  if (first.result != result::kOk) {
    first.failure = "its second read failed: " + Result_Text(first.result);
  } else if (static_cast<size_t>(size) != loader.size()) {
    first.readsDiffer = true;
    first.failure = "read twice, the second read gave " + std::to_string(size) + " bytes";
  } else if (!std::equal(loader.begin(), loader.end(), buffer)) {
    size_t differing = 0;
    for (size_t i = 0; i < loader.size(); ++i) differing += loader[i] != buffer[i] ? 1 : 0;
    first.readsDiffer = true;
    first.failure = "read twice, the two reads differ in " + std::to_string(differing) +
                    (differing == 1 ? " byte" : " bytes");
  } else {
    return;
  }
  first.stored = false;
  workspace.Present(ComponentKind::Loader) = false;
}

}  // namespace

BlockOutcome Toppy_ReceiveBlock(Link& link, Workspace& workspace, [[maybe_unused]] UserInteraction& ui,
                                ComponentKind kind, uint8_t* receiveBuffer, int32_t receiveBufferCapacity,
                                const TransferHooks& hooks) {
  BlockOutcome outcome;
  outcome.kind = kind;
  SetStatusLine(hooks, Transfer_BlockLabel(kind));
  if (hooks.blockStarting) hooks.blockStarting(kind, ExpectedWireSize(kind));
  int32_t size = 0;
  outcome.result =
      link.TransferBlock(static_cast<uint8_t>(kind), receiveBuffer, receiveBufferCapacity, &size);
  outcome.byteCount = size;
  if (outcome.result == result::kOk) {
    std::string packedNote;
    outcome.failure =
        StoreBlock(workspace, kind, receiveBuffer, std::clamp(size, 0, receiveBufferCapacity), packedNote);
    outcome.stored = outcome.failure.empty();
    if (outcome.stored && kind == ComponentKind::Eeprom) outcome.note = EepromNote(workspace);
    if (outcome.stored && (kind == ComponentKind::Flash || kind == ComponentKind::Defaults)) {
      outcome.note = SectionNote(workspace, kind);
      if (!packedNote.empty()) outcome.note += (outcome.note.empty() ? "" : "; ") + packedNote;
    }
  } else {
    outcome.failure = Result_Text(outcome.result);
  }
  SetStatusLine(hooks, "");
  return outcome;
}

DownloadReport Transfer_FromToppy(Link& link, Workspace& workspace, UserInteraction& ui,
                                  const DownloadRequest& request, const TransferHooks& hooks) {
  DownloadReport report;
  std::vector<uint8_t> receiveBuffer(kReceiveBufferSize);
  const CancelWatch watch(hooks);
  TransferHooks blockHooks = hooks;
  blockHooks.progress = watch.callback();
  LogScope log(link, request.log);
  {
    CloseOnUnwind closeOnError(link);
    const transfer_detail::ModeReached mode = transfer_detail::ReachDownloadMode(link, request.port, watch);
    report.openResult = mode.openResult;
    report.modeResult = mode.modeResult;
    if (report.modeResult == result::kOk) {
      link.GetReceiverInfo(&report.systemId, nullptr);
      workspace.systemId = report.systemId;
      // The Background is never fetched.
      for (ComponentKind kind : {ComponentKind::Loader, ComponentKind::Firmware, ComponentKind::Flash,
                                 ComponentKind::Eeprom, ComponentKind::Defaults}) {
        if (!request.selection[static_cast<size_t>(kind)]) continue;
        report.blocks.push_back(Toppy_ReceiveBlock(link, workspace, ui, kind, receiveBuffer.data(),
                                                   kReceiveBufferSize, blockHooks));
        if (kind == ComponentKind::Loader && request.readLoaderTwice)
          ReadLoaderAgain(link, workspace, receiveBuffer.data(), kReceiveBufferSize, blockHooks,
                          report.blocks.back());
      }
    }
    link.End();
    link.Close();  // also after a failed handshake: the port must not stay held
  }
  // A cancel first, as the summary tells it; then the outcome with its reason.
  if (watch.requested()) report.outcome = Outcome::Cancelled({});
  report.opened = watch.deviceOpened();
  // The window lets New and the removals run between two steps of the link.
  for (BlockOutcome& block : report.blocks) block.discarded = block.stored && !workspace.Present(block.kind);
  report.outcome = DownloadOutcome(report);
  if (request.reportFailures && !report.outcome.IsCancelled() &&
      (!report.AllStored() || report.AnyNote() || report.AnyDiscarded()))
    ui.Information(Transfer_Summary(report));
  report.rebooted = transfer_detail::OfferReboot(link, ui, request.port, report.opened);
  log.Stop();
  return report;
}

DownloadReport Transfer_FromToppy(Workspace& workspace, UserInteraction& ui, const DownloadRequest& request,
                                  const TransferHooks& hooks) {
  return Transfer_FromToppy(Comm_Link(), workspace, ui, request, hooks);
}

int64_t Transfer_WireSize(ComponentKind kind) { return ExpectedWireSize(kind); }

}  // namespace tolv
