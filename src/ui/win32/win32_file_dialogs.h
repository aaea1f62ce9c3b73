// The window's open and save dialogs on Windows: the system's common file
// dialogs (GetOpenFileNameW, GetSaveFileNameW).
#pragma once

#include <windows.h>

#include <string>

#include "window/dialog_requests.h"

namespace tolv::win32 {

class Win32FileDialogs : public FileDialogs {
 public:
  // The window the dialogs are modal to; nullptr (the default) for none.
  void SetOwner(HWND owner) { owner_ = owner; }

  // Shows the request's dialog with its title, filter and default extension
  // and an empty file name. Read-only files are hidden, an open dialog accepts
  // a name of no existing file, a save dialog replaces an existing file
  // without asking; the current folder stays as it was (the transfer log and
  // the model list are found where the program started). Returns the full
  // name in UTF-8, "" when the user cancelled. Throws std::runtime_error when
  // the dialog fails (a name longer than the 32,767 characters a path may
  // have).
  std::string Choose(const FileDialogRequest& request) override;

 private:
  HWND owner_ = nullptr;
};

// A filter as written down ("Topfield STD (*.std)|*.std|All files|*.*") in
// the dialogs' form: each "|" a zero character, and two zeros at the end.
std::wstring DialogFilter(const std::string& filter);

}  // namespace tolv::win32
