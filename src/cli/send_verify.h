// What upload and restore share once the image is ready: sending it, reading
// back what went and comparing it, and the closing lines that say what the
// receiver now holds and what is safe to do next.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/transfer_console.h"
#include "workspace/transfers.h"

namespace tolv::cli {

// What became of the receiver's loader in a send.
enum class LoaderFate {
  kNotSent,   // no byte of an image with a loader went out
  kVerified,  // sent and read back the same
  kUnknown,   // sent (or partly sent), not read back: it may be wrong
  kWrong,     // read back and it differs
};

struct SendOptions {
  bool verify = true;  // read back and compare after a complete send
  std::optional<int> timeoutSeconds;
  bool log = false;
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

// Sends the request's components of workspace (Transfer_ToToppy) with the
// progress on display, then, unless options.verify is off or the send did
// not complete, reads them back in a download session and compares them
// (Flash and Defaults unpacked, as far as their packed form brings them
// back; the Background, which no receiver gives, is not compared). Says the
// summary, "Verified: ..." and "Differs after sending: ...", each component
// by its one name. The reboot question is deferred to Send_Closing.
SendResult Send_AndVerify(const SendOptions& options, Workspace& workspace, const UploadRequest& request,
                          ProgressDisplay& display, TransferConsole& ui);

// The closing lines: what the receiver holds (sent whole and checked, not
// checked), then the next step. When the loader is wrong or unknown no
// reboot is asked or advised: the receiver is to stay on while the loader
// is sent again with resendLoader (the exact command). Otherwise "Reboot the
// Toppy?" is asked only when the receiver answered, and the last line tells
// the state it is left in. Then the elapsed time.
void Send_Closing(const SendResult& result, const std::string& port, const std::string& resendLoader,
                  double seconds, TransferConsole& ui);

// Estimates for the plan, in seconds, on port (a serial line at 115200
// baud, or USB): a session's reboot and the wait for the loader; sending a
// component that takes imageShare bytes of the image
// (Transfer_UploadShares); reading it back (the Background never comes
// back: 0).
inline constexpr double kSessionSeconds = 10;
double Send_UploadSeconds(int64_t imageShare, const std::string& port);
double Send_ReadBackSeconds(ComponentKind kind, int64_t imageShare, const std::string& port);

// text with every result text of the link in it ("Comm_TransferBlock:
// Timeout while waiting or a response") replaced by plain words and the
// code ("the receiver stopped answering (code 2403)").
std::string Send_PlainText(std::string text);

// "1:26" for 86 seconds.
std::string Send_DurationText(double seconds);

}  // namespace tolv::cli
