// The toolkit's open and save dialogs behind the FileDialogs interface.
#pragma once

#include "ui/file_filter.h"

class QFileDialog;
class QWidget;

namespace tolv {

class QtFileDialogs : public FileDialogs {
 public:
  // parent: the window the dialogs are centred on (may be null).
  explicit QtFileDialogs(QWidget* parent) : parent_(parent) {}

  std::string Choose(const FileDialogRequest& request) override;

 private:
  QWidget* parent_;
};

// Sets title, mode, filters and default extension of dialog from request.
// Shared with the tests, which check what a person would be shown.
void ConfigureFileDialog(QFileDialog& dialog, const FileDialogRequest& request);

}  // namespace tolv
