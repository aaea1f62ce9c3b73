// The owner's jobs on a backup folder, for every front end: what a backup
// fetches and says when it cannot be made; what a restore is made of (the
// plan with each component's size and time, the read-back compare of what
// was sent) and what to tell the user at its end (what the receiver now
// holds, and whether a reboot may be asked at all).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "workspace/transfers.h"
#include "workspace/workspace.h"

namespace tolv {

// The question every receiver session ends with. The jobs answer it
// themselves, once, at the very end, and only when it is safe.
inline constexpr const char* kRebootQuestion = "Reboot the Toppy?";

// --- Backup -------------------------------------------------------------------

// What a backup fetches from port: every component a receiver gives
// (Loader, Firmware, Flash, EEPROM, Defaults), the Loader read twice (it has
// no checksum: two reads must agree), failures told by the caller.
DownloadRequest Backup_Request(const std::string& port, bool log);

// The blocks of a backup's download in order with their sizes on the wire
// (the Firmware's 0: learnt as it comes), for progress over the whole job.
std::vector<int64_t> Backup_JobBlocks();

inline constexpr const char* kNoBackupCancelled = "Cancelled; no backup was made.";

// Why a backup's download did not give everything: "the receiver did not
// answer", "the Loader is not trustworthy: ...", "Flash did not arrive
// (WHY)". plain turns a failure's link texts into the front end's words
// (none: as they are).
std::string Backup_MissingText(const DownloadReport& report,
                               const std::function<std::string(std::string)>& plain = {});

// "Backup complete: DIR (N components, verified)".
std::string Backup_CompleteText(const std::string& dir, int count);
// "No backup was made: REASON. Nothing was left in \"DIR\"."
std::string Backup_FailedText(const std::string& reason, const std::string& dir);
// "Removed \"PATH\", left by a backup that did not end."
std::string Backup_LeftoverText(const std::string& path);

// --- Restore ------------------------------------------------------------------

// What became of the receiver's loader in a send.
enum class LoaderFate {
  kNotSent,   // no byte of an image with a loader went out
  kVerified,  // sent and read back the same
  kUnknown,   // sent (or partly sent), not read back: it may be wrong
  kWrong,     // read back and it differs
};

struct SendResult {
  Outcome outcome;           // failed with kReadBackDiffers when a component differs
  bool portFailed = false;   // the port could not be opened: its one line has said why
  bool answered = false;     // the receiver answered a mode request at some point
  bool sendStarted = false;  // the receiver took the image's first request (bytes may have gone)
  LoaderFate loader = LoaderFate::kNotSent;
  std::vector<ComponentKind> checked;    // sent whole and read back the same
  std::vector<ComponentKind> unchecked;  // sent or partly sent, not (or not the same) read back
};

// Writing the loader is asked on its own: one that arrives wrong can leave
// the receiver unable to start.
inline constexpr const char* kLoaderQuestion =
    "Write the loader too? A loader that arrives wrong can leave the receiver unable to start.";

// Estimates, in seconds, on port (a serial line at 115200 baud, or USB): a
// session's reboot and the wait for the loader; sending a component that
// takes imageShare bytes of the image (Transfer_UploadShares); reading it
// back (the Background never comes back: 0).
inline constexpr double kSessionSeconds = 10;
double Send_UploadSeconds(int64_t imageShare, const std::string& port);
double Send_ReadBackSeconds(ComponentKind kind, int64_t imageShare, const std::string& port);

// "1:26" for 86 seconds.
std::string Send_DurationText(double seconds);

// The plan of a restore: each selected component with its image size and
// the time it takes to send; the whole send with the reboot, and what a
// read-back adds.
struct RestorePlanLine {
  ComponentKind kind;
  size_t bytes;
  double seconds;
};
struct RestorePlan {
  std::vector<RestorePlanLine> lines;
  double sendSeconds = kSessionSeconds;
  double readBackSeconds = kSessionSeconds;
};
RestorePlan Restore_Plan(Workspace& workspace, const ComponentSelection& selection, const std::string& port);

// The components sent that a receiver gives back: all but the Background.
ComponentSelection ReadBack_Selection(const std::vector<ComponentKind>& sent);

// Sorts each block read back (back, into read) against what was sent:
// result.checked gets those that came back the same, result.unchecked loses
// them, result.loader follows the Loader. The Flash and the Defaults are
// compared unpacked, as far as their packed form brings them back. Returns
// the differences ("Flash (3 bytes differ, the first at offset 16)"),
// joined by "; "; empty when none.
std::string ReadBack_Sort(const Workspace& sent, const Workspace& read, const DownloadReport& back,
                          SendResult& result);

// "Loader, Flash, EEPROM".
std::string Restore_NameList(const std::vector<ComponentKind>& kinds);

// Whether the receiver's loader may be wrong: then no reboot is asked or
// advised, since a receiver restarted with a broken loader may never start.
bool Restore_LoaderSuspect(const SendResult& result);

// What the receiver holds after a send that did not end well: "The receiver
// now holds, sent whole and checked: ...", "Not checked (sent, or partly
// sent): ...". None when nothing was sent or all went well.
std::vector<std::string> Restore_HeldLines(const SendResult& result);

// The warning when the loader is suspect, with resendLoader, what sends the
// loader alone again; then, when more went unchecked, sendRestAgain.
std::vector<std::string> Restore_LoaderAdvice(const SendResult& result, const std::string& resendLoader,
                                              const std::string& sendRestAgain);

}  // namespace tolv
