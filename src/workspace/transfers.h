// The two receiver transfer workflows, "From Toppy" and "To Toppy", without
// their window: the window (and the command line) lock their controls, show
// the progress and offer the cancel; everything else runs here, so that both
// run the very same steps.
//
// From Toppy: open the link, reboot the receiver, close, reopen and ask for
// download mode until the receiver answers (each kDownloadModeTimeout is
// retried, without a limit: the user cancels), take over the SystemID it
// reports, fetch each selected block into the workspace (Flash and Defaults
// arrive packed, are checked and unpacked), end the session, close, and ask
// "Reboot the Toppy?".
//
// To Toppy: fill the TFD store with the selected present components (Flash
// and Defaults packed for the SystemID), upload its image in one session
// (asking first when the receiver reports another model) and ask "Reboot the
// Toppy?".
//
// "Reboot the Toppy?" is asked on every way out once the port was opened,
// failures and cancels included; not when it could not be opened at all.
//
// The workers are given the link, the TFD store and the workspace; the
// wrappers without those arguments use the process-wide link (link/comm.h) and
// TFD store. Both run on the caller's thread and call the hooks there; a
// cancel requested from inside the progress hook (Link::Cancel, Comm_Cancel)
// makes the operation under way give up, and the workflow then runs on to
// its end (reboot question included) without starting anything new.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/link.h"
#include "tfd/tfd_store.h"
#include "workspace/outcome.h"
#include "workspace/user_interaction.h"
#include "workspace/workspace.h"

namespace tolv {

// Name of the transfer log a workflow writes when asked to (in the current
// directory; "CommDump.bin" lies beside it).
inline constexpr const char* kTransferLogName = "TolvPack.log";

// Room for one received block. The firmware, the largest, expands to at most
// the link's 8 MiB work area, so no block the link accepts is refused for
// want of room.
inline constexpr int32_t kReceiveBufferSize = kFirmwareWorkAreaSize;

// What the window adds to a workflow. Every member may be empty.
struct TransferHooks {
  // Every link status (1 to 9) with its value, as the link reports it. The
  // window updates its status line and progress bar here and processes its
  // pending events; this is where a cancel can come in.
  CommCallback progress;
  // Texts the workflow itself puts into the status line: the block's label
  // ("Loader:", ...) before a block is fetched, an empty text after it; in an
  // upload, before a session stopped by a fault starts again, "Upload stopped
  // (REASON); starting again from the reboot (N of 2)."
  std::function<void(const std::string& text)> statusLine;
  // Before a block moves: its kind and its size on the wire in bytes when
  // known in advance (0 when not: a firmware download). For an upload, kind is
  // Flash (the link reports the image as block type 2) and the size is that
  // of the whole TFD image.
  std::function<void(ComponentKind kind, int64_t byteCount)> blockStarting;
};

// Which components a transfer moves, by ComponentKind number.
using ComponentSelection = std::array<bool, kComponentCount>;

struct DownloadRequest {
  std::string port;                // "USB" (any case) or a serial port name
  ComponentSelection selection{};  // Background is never fetched
  bool log = false;                // write kTransferLogName while the transfer runs
  // Tell the user through UserInteraction when something failed (a block not
  // received, the receiver not reached), before the reboot question. Not when
  // the user cancelled. The window wants this; a caller that reports the
  // outcome itself turns it off.
  bool reportFailures = true;
  // Fetch the Loader, the one component without any checksum, twice in the
  // session and compare the two reads: a difference fails the Loader
  // (BlockOutcome::readsDiffer) and leaves the workspace's Loader absent.
  bool readLoaderTwice = false;
};

struct UploadRequest {
  std::string port;
  ComponentSelection selection{};  // only present components go
  bool log = false;
  // As for a download. A No to the model question is the user's own choice
  // and is not reported.
  bool reportFailures = true;
  // Show the SystemID box (SystemId_Ask) when the SystemID is 0. The window
  // asks before it locks its controls and then turns this off; the command
  // line, which takes the SystemID from its inputs or --sysid, turns it off.
  bool askForSystemId = true;
  // Learn only whether the receiver would take the image: the image is
  // made, the receiver rebooted and asked for download mode (never upload
  // mode: on a serial line it announces its SystemID after the reboot, on
  // USB the mode reply carries it), and the session ends at once, nothing
  // written to its memory and no model question (receiverSystemId; result
  // kTfdUploadWrongModel: nothing sent).
  bool dryRun = false;
};

// What became of one block of a download.
struct BlockOutcome {
  ComponentKind kind = ComponentKind::Loader;
  int32_t result = 0;     // the link's result; 0 when the whole block arrived
  int32_t byteCount = 0;  // bytes received (expanded, for the firmware)
  bool stored = false;    // taken into the workspace
  std::string failure;    // empty when stored; else why not, one sentence
  // Stored, but with something the user should know, e.g. "its record
  // checksums 2, 5 do not match" for an EEPROM; else empty.
  std::string note;
  // Read twice (DownloadRequest::readLoaderTwice) and the reads differ.
  bool readsDiffer = false;
  // Stored, but no longer in the workspace when the transfer ended: the
  // window's New or a removal ran while the transfer went on.
  bool discarded = false;
};

struct DownloadReport {
  int32_t openResult = 0;            // the last Open made (the one before the reboot when no other followed)
  int32_t modeResult = 0;            // 0 when the receiver reached download mode
  int32_t systemId = 0;              // as the receiver reported it (when modeResult is 0)
  bool opened = false;               // the port was opened at least once
  std::vector<BlockOutcome> blocks;  // one per selected block, in block order
  bool rebooted = false;             // the reboot question was answered Yes
  // Cancelled when the user cancelled at some point, also after the last
  // block had arrived (the caller writes or sends nothing more: the user
  // asked to stop); else done when download mode was reached and every
  // selected block was stored, failed otherwise. The reason of both is
  // Transfer_Summary.
  Outcome outcome;

  // True when download mode was reached and every selected block was stored.
  bool AllStored() const;
  // True when a stored block carries a note.
  bool AnyNote() const;
  // True when a stored block was discarded before the transfer ended.
  bool AnyDiscarded() const;
};

struct UploadReport {
  int32_t systemId = 0;                   // the SystemID the image was made for
  std::vector<ComponentKind> sent;        // components put into the image, in order
  std::vector<std::string> packFailures;  // the messages of components left out
  // Why the upload was not even attempted ("no SystemID", "the Firmware is
  // empty (0 bytes)"); empty when it was.
  std::string refusal;
  int64_t imageSize = 0;  // bytes of the TFD image offered
  bool started = false;   // the upload was attempted at all
  int32_t result = 0;     // of the upload (TFD_SaveImageToToppy); 0 = done
  // The SystemID the receiver reported in the upload-mode handshake; 0 until
  // it answered. With result kTfdUploadWrongModel it is another model's.
  int32_t receiverSystemId = 0;
  bool canceled = false;
  bool opened = false;  // the port was opened at least once
  bool rebooted = false;
  int restarts = 0;  // sessions started again after a fault (at most kUploadRestarts)
  // Done when the upload ran to the end and nothing selected was left out
  // (Succeeded), and for a dry run once the receiver told its SystemID.
  // Failed when it was refused before sending (the refusal's message as the
  // reason), when a component was left out or the link failed; cancelled
  // when the user cancelled or answered No to the model question. The
  // reason of both is Transfer_Summary.
  Outcome outcome;

  // True when the upload ran to the end and nothing selected was left out.
  bool Succeeded() const;
};

// --- Status line and progress bar --------------------------------------------

// What the window shows for one link status.
struct TransferProgressView {
  int barPosition = 0;  // the value truncated toward zero, held to 0..100
  // The status line's new text, or nothing for statuses that leave it
  // (0 and above 9).
  std::optional<std::string> statusText;
  // Status 9: the From Toppy button reads "From Toppy" again at once.
  bool restoreFromToppyCaption = false;
};

// Status 1 "Waiting for USB interface", 2 "Device opened", 3 "Set to download
// mode", 4 "Set to upload mode", 5 "Transfer of block %d started" (value
// truncated), 6 "%1.1f%% done\r" with decimalPoint as the separator (42.5 ->
// "42,5% done\r" for ","), 7 "End of communication", 8 "Device closed",
// 9 "Communication has been canceled".
TransferProgressView Transfer_Progress(uint8_t status, double value, const std::string& decimalPoint);

// The same with the decimal separator of the C library's current numeric
// locale (the one the program set with setlocale).
TransferProgressView Transfer_Progress(uint8_t status, double value);

// Why the USB receiver that the link waits for is there but cannot be used,
// as a sentence for the user: "Receiver found but not usable: " and the link's
// diagnostic (Link::usbDiagnostic: no permission, with the udev rule to
// install; the interface held by another program; ...) and a full stop.
// Empty for an empty diagnostic (the receiver is simply not there).
std::string Transfer_UsbWaitReason(const std::string& usbDiagnostic);

// The bytes a block of kind takes on the wire in a download, as far as they
// are known before it arrives: the packed block of the Flash and the
// Defaults, the image of the others; 0 for the Firmware (sent as sections,
// its size comes with it).
int64_t Transfer_WireSize(ComponentKind kind);

// The status line's label of a block: "Loader:", "Firmware:", "Flash:",
// "EEPROM:", "Default:"; "" for the Background.
const char* Transfer_BlockLabel(ComponentKind kind);

// --- Workflows ----------------------------------------------------------------

// One block of From Toppy: fetched into receiveBuffer (receiveBufferCapacity
// bytes) and stored as a file's block would be: Loader and EEPROM at their
// exact size only, the Firmware as it came, Flash and Defaults as a packed
// block of at most 131,072 bytes judged by Workspace_TakePackedBlock (refused
// with "UnPackFlashData failed to unpack the flash block" and the reason,
// changing nothing). Record and section checksums that do not match are kept
// as the receiver has them and named in the note, as is what the load check
// names. The status line shows the block's label meanwhile.
BlockOutcome Toppy_ReceiveBlock(Link& link, Workspace& workspace, UserInteraction& ui, ComponentKind kind,
                                uint8_t* receiveBuffer, int32_t receiveBufferCapacity,
                                const TransferHooks& hooks);

// From Toppy on link. Never throws for link failures (they are in the
// report); a log file that cannot be written throws FileError, after the link
// has been closed and the log stopped. With reportFailures the summary is
// shown when a block was not stored or a stored one carries a note.
DownloadReport Transfer_FromToppy(Link& link, Workspace& workspace, UserInteraction& ui,
                                  const DownloadRequest& request, const TransferHooks& hooks);
DownloadReport Transfer_FromToppy(Workspace& workspace, UserInteraction& ui, const DownloadRequest& request,
                                  const TransferHooks& hooks);

// To Toppy on link and store. A selected present Firmware of 0 bytes is
// refused with a message before anything else (no receiver takes an empty
// firmware): nothing is sent. With SystemID 0 the SystemID box is shown
// first (SystemId_Ask, when the request asks for it); if the SystemID is
// still 0 afterwards, "Please enter a valid system ID" is shown and nothing
// is sent (no receiver could take an image made for no model). A Flash or Defaults that does not pack shows
// "PackFlashData failed to pack the flash block" / "... the defaults block"
// and is left out; the rest still goes. The Flash and EEPROM go out with the
// checksums they hold (no checksum update). When the receiver reports a
// SystemID the image does not suit (TFD_ImageSuitsReceiver), ui is asked,
// with No as the default, "The receiver reports SystemID %d (%s); the image
// is for SystemID %d (%s). Send it anyway?" (model names by Model_GetName);
// on No the session ends without a byte of the image (kTfdUploadWrongModel).
// Throws FileError as From Toppy.
UploadReport Transfer_ToToppy(Link& link, TfdStore& store, Workspace& workspace, UserInteraction& ui,
                              const UploadRequest& request, const TransferHooks& hooks);
UploadReport Transfer_ToToppy(Workspace& workspace, UserInteraction& ui, const UploadRequest& request,
                              const TransferHooks& hooks);

// Bytes per component kind (ComponentKind number).
using ComponentBytes = std::array<int64_t, kComponentCount>;

// The bytes each selected present component takes in the TFD image that
// Transfer_ToToppy would send (compressed, with its blocks' framing), for a
// plan that tells how long each takes; 0 for the others and when the image
// cannot be made. Says nothing; the workspace is left as it was.
ComponentBytes Transfer_UploadShares(Workspace& workspace, const ComponentSelection& selection);

// One line for the user on how a transfer went: what arrived or went, and
// what failed with the result text, e.g. "Received Loader, Firmware; not
// received: EEPROM (Comm_TransferBlock: Timeout while waiting or a response)".
std::string Transfer_Summary(const DownloadReport& report);
std::string Transfer_Summary(const UploadReport& report);

}  // namespace tolv
