#include "ui/qt_file_dialogs.h"

#include <QFileDialog>
#include <QStringList>

namespace tolv {

void ConfigureFileDialog(QFileDialog& dialog, const FileDialogRequest& request) {
  const bool save = request.kind == FileDialogRequest::Kind::Save;
  dialog.setWindowTitle(QString::fromStdString(request.title));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  // A typed name need not exist (the load then says why it cannot read it),
  // and a save replaces an existing file without asking.
  dialog.setFileMode(QFileDialog::AnyFile);
  // The toolkit's own dialog, so that the translated patterns are matched as
  // written; the patterns stay out of sight, the user sees the names.
  QFileDialog::Options options = QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails;
  if (save) options |= QFileDialog::DontConfirmOverwrite;
  dialog.setOptions(options);
  QStringList filters;
  for (const NameFilter& filter : TranslateFilter(request.filter))
    filters << QString::fromStdString(filter.displayName + " (" + filter.patterns + ")");
  dialog.setNameFilters(filters);
  dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
  // A folder: the dialog lists folders only and takes the one chosen.
  if (request.kind == FileDialogRequest::Kind::Folder) {
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
  }
}

std::string QtFileDialogs::Choose(const FileDialogRequest& request) {
  QFileDialog dialog(parent_);
  ConfigureFileDialog(dialog, request);
  if (dialog.exec() != QDialog::Accepted) return "";
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? std::string() : files.front().toStdString();
}

}  // namespace tolv
