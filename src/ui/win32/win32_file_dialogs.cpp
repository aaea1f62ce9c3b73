// The common file dialogs.
#include "ui/win32/win32_file_dialogs.h"

#include <commdlg.h>
#include <shlobj.h>

#include <stdexcept>

#include "common/windows_text.h"

namespace tolv::win32 {
namespace {

// Room for the longest path Windows takes (32,767 characters) and its end.
constexpr DWORD kNameCapacity = 32768;

std::string FailureText(DWORD error) {
  if (error == FNERR_BUFFERTOOSMALL) return "The file name is too long.";
  return "The file dialog failed (error " + std::to_string(error) + ").";
}

// The folder dialog: folders on the disk only; "" when cancelled.
std::string ChooseFolder(HWND owner, const std::string& title) {
  const std::wstring caption = Utf8ToWide(title);
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.lpszTitle = caption.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (chosen == nullptr) return "";
  std::wstring path(MAX_PATH + 1, L'\0');
  const BOOL named = SHGetPathFromIDListW(chosen, path.data());
  CoTaskMemFree(chosen);
  if (!named) throw std::runtime_error("The folder chosen is not a folder on a disk.");
  path.resize(path.find(L'\0'));
  return WideToUtf8(path);
}

}  // namespace

std::wstring DialogFilter(const std::string& filter) {
  std::wstring result = Utf8ToWide(filter);
  for (wchar_t& c : result)
    if (c == L'|') c = L'\0';
  // One zero ends the last text, a second one the list.
  result.push_back(L'\0');
  result.push_back(L'\0');
  return result;
}

std::string Win32FileDialogs::Choose(const FileDialogRequest& request) {
  if (request.kind == FileDialogRequest::Kind::Folder) return ChooseFolder(owner_, request.title);
  const std::wstring filter = DialogFilter(request.filter);
  const std::wstring title = Utf8ToWide(request.title);
  const std::wstring extension = Utf8ToWide(request.defaultExtension);
  std::wstring name(kNameCapacity, L'\0');

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner_;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = name.data();
  dialog.nMaxFile = kNameCapacity;
  dialog.lpstrTitle = title.c_str();
  dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_ENABLESIZING;

  const bool open = request.kind == FileDialogRequest::Kind::Open;
  const BOOL chosen = open ? GetOpenFileNameW(&dialog) : GetSaveFileNameW(&dialog);
  if (!chosen) {
    const DWORD error = CommDlgExtendedError();
    if (error != 0) throw std::runtime_error(FailureText(error));
    return "";
  }
  name.resize(name.find(L'\0'));
  return WideToUtf8(name);
}

}  // namespace tolv::win32
