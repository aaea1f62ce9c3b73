// Shared steps of upload and restore.
#include "cli/upload_plan.h"

#include "cli/steps.h"
#include "results/result_codes.h"
#include "workspace/backup_jobs.h"
#include "workspace/commands.h"

namespace tolv::cli {

int32_t ParseSendSystemId(const std::string& text) {
  int32_t value = 0;
  try {
    value = SystemId_Parse(text);
  } catch (const SystemIdTextError& error) {
    throw UsageError(std::string("--sysid: ") + error.what());
  }
  if (value == 0) throw UsageError("--sysid needs a model number from 1 to 65535, not \"" + text + "\"");
  return value;
}

Outcome Upload_ReadyToSend(const std::string& command, int32_t systemId, bool only, Workspace& workspace,
                           UploadRequest& request, ConsoleInteraction& ui) {
  const std::string head = "tolv " + command + ": ";
  Workspace_SetSystemId(workspace, systemId);  // 0 keeps the one the inputs carried
  if (workspace.systemId == 0)
    return ReportFailure(
        ui, head + "no SystemID: the inputs carry none; give the receiver's model with --sysid N.");
  bool any = false;
  for (ComponentKind kind : kAllComponents) {
    bool& selected = request.selection[static_cast<size_t>(kind)];
    if (selected && !workspace.Present(kind) && only)
      return ReportFailure(ui, head + "--only names " + ComponentWord(kind) + ", which no input holds.");
    selected = selected && workspace.Present(kind);
    any = any || selected;
  }
  return any ? Outcome::Done() : ReportFailure(ui, head + "the inputs hold no component to send.");
}

Outcome Upload_AskForLoader(const UploadRequest& request, ConsoleInteraction& ui) {
  if (!request.selection[static_cast<size_t>(ComponentKind::Loader)]) return Outcome::Done();
  const std::string question = kLoaderQuestion;
  if (ui.Question(question)) return Outcome::Done();
  ui.Note("Nothing was sent; --only without loader sends the rest.");
  return Outcome::Cancelled(question);
}

std::string Upload_SummaryText(const UploadReport& report) {
  std::string text = Transfer_Summary(report);
  if (!report.canceled || report.result != result::kTfdUploadCanceled) return text;
  const std::string code = Result_Text(result::kTfdUploadCanceled);
  if (const size_t at = text.find(code); at != std::string::npos)
    text.replace(at, code.size(),
                 "stopped by Ctrl-C (code " + std::to_string(result::kTfdUploadCanceled) + ")");
  return text;
}

}  // namespace tolv::cli
