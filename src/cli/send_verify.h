// What upload and restore share once the image is ready: sending it, reading
// back what went and comparing it, and the closing lines that say what the
// receiver now holds and what is safe to do next.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/transfer_console.h"
#include "workspace/backup_jobs.h"
#include "workspace/transfers.h"

namespace tolv::cli {

struct SendOptions {
  bool verify = true;  // read back and compare after a complete send
  std::optional<int> timeoutSeconds;
  bool log = false;
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

// text with every result text of the link in it ("Comm_TransferBlock:
// Timeout while waiting or a response") replaced by plain words and the
// code ("the receiver stopped answering (code 2403)").
std::string Send_PlainText(std::string text);

}  // namespace tolv::cli
