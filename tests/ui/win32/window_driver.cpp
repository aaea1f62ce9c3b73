// The window driver: every action is a message posted to the program, every
// reading a call on its windows, so the test never blocks on a modal dialog.
#include "window_driver.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <thread>

#include "common/windows_text.h"
#include "test_support.h"
#include "ui/win32/win32_controls.h"
#include "ui/win32/win32_window.h"

namespace tolv::test {
namespace {

using win32::ChildId;
using win32::MenuCommandId;

// Child ids of the common file dialog's file name field: the explorer
// style's combo box, and the older edit field.
constexpr int kFileNameCombo = 0x47C;
constexpr int kFileNameEdit = 0x480;
// The text of a message box.
constexpr int kMessageBoxText = 0xFFFF;

struct Search {
  DWORD processId;
  const wchar_t* className;
  const wchar_t* caption;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  wchar_t text[256] = L"";
  GetWindowTextW(window, text, 256);
  wchar_t className[64] = L"";
  GetClassNameW(window, className, 64);
  if (std::wstring(text) != search->caption) return TRUE;
  if (search->className && std::wstring(className) != search->className) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindTopLevel(DWORD processId, const wchar_t* className, const std::wstring& caption) {
  Search search{processId, className, caption.c_str(), nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The edit field of the dialog's file name: inside the explorer style's
// combo box (itself inside an extended combo box), or the older dialog's own.
HWND FileNameField(HWND dialog) {
  HWND field = nullptr;
  EnumChildWindows(
      dialog,
      [](HWND child, LPARAM found) -> BOOL {
        wchar_t className[16] = L"";
        GetClassNameW(child, className, 16);
        const int id = GetDlgCtrlID(child);
        if (std::wstring(className) != L"Edit" || (id != kFileNameCombo && id != kFileNameEdit)) return TRUE;
        if (!IsWindowVisible(child)) return TRUE;
        *reinterpret_cast<HWND*>(found) = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&field));
  return field;
}

std::wstring Quoted(const std::string& text) { return L"\"" + Utf8ToWide(text) + L"\""; }

// Wine reads the screen's resolution from these values (the user's first).
constexpr const wchar_t* kLogPixelsValue = L"LogPixels";
const std::pair<HKEY, const wchar_t*> kLogPixelsKeys[] = {{HKEY_CURRENT_USER, L"Control Panel\\Desktop"},
                                                          {HKEY_CURRENT_CONFIG, L"Software\\Fonts"}};

}  // namespace

bool RunXdotool(const std::string& args) {
  // start /unix runs a program of the system beneath Wine.
  std::wstring commandLine = L"start.exe /wait /unix /usr/bin/xdotool " + Utf8ToWide(args);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return false;
  const bool ended = WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0;
  DWORD code = 1;
  if (ended) GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return ended && code == 0;
}

ScopedLogPixels::ScopedLogPixels(DWORD dpi) {
  for (const auto& [root, path] : kLogPixelsKeys) {
    std::optional<DWORD> old;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(root, path, kLogPixelsValue, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS)
      old = value;
    before_.emplace_back(root, old);
    RegSetKeyValueW(root, path, kLogPixelsValue, REG_DWORD, &dpi, sizeof dpi);
  }
}

ScopedLogPixels::~ScopedLogPixels() {
  for (size_t i = 0; i < before_.size(); ++i) {
    const auto& [root, path] = kLogPixelsKeys[i];
    const std::optional<DWORD>& old = before_[i].second;
    if (old) {
      RegSetKeyValueW(root, path, kLogPixelsValue, REG_DWORD, &*old, sizeof *old);
    } else {
      RegDeleteKeyValueW(root, path, kLogPixelsValue);
    }
  }
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 20) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

std::string WindowsPath(const std::string& path) { return NativePath(path); }

WindowDriver::WindowDriver(const std::string& args, const std::string& cwd) {
  std::wstring commandLine = Quoted(BuildBinDir() + "/TolvPack.exe");
  if (!args.empty()) commandLine += L" " + Utf8ToWide(args);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      Utf8ToWide(cwd).c_str(), &startup, &process_)) {
    ADD_FAILURE() << "TolvPack.exe does not start: " << WindowsErrorText(GetLastError());
    return;
  }
  const DWORD id = process_.dwProcessId;
  WaitUntil([&] { return (window_ = FindTopLevel(id, win32::kWindowClassName, L"Tolv Pack")) != nullptr; });
  if (window_ == nullptr) ADD_FAILURE() << "the window \"Tolv Pack\" does not appear";
}

WindowDriver::~WindowDriver() {
  if (process_.hProcess == nullptr) return;
  if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
    Close();
    if (WaitForSingleObject(process_.hProcess, 10000) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 1);
  }
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

HWND WindowDriver::Control(ControlId id) const { return GetDlgItem(window_, ChildId(id)); }

bool WindowDriver::MouseClick(ControlId id, int clicks) const {
  RECT rect;
  GetWindowRect(Control(id), &rect);
  const int x = (rect.left + rect.right) / 2;
  const int y = (rect.top + rect.bottom) / 2;
  // Two clicks 80 ms apart: well within any double-click time.
  return RunXdotool("mousemove --sync " + std::to_string(x) + " " + std::to_string(y) + " click --repeat " +
                    std::to_string(clicks) + " --delay 80 1");
}

bool WindowDriver::PressKeys(const std::string& keys) const { return RunXdotool("key --delay 50 " + keys); }

HWND WindowDriver::FocusedControl() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window_, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

bool WindowDriver::Active() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(GetWindowThreadProcessId(window_, nullptr), &info) && info.hwndActive == window_;
}

Rect WindowDriver::ClientRectOf(ControlId id) const {
  RECT rect;
  GetWindowRect(Control(id), &rect);
  MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

std::string WindowDriver::Text(ControlId id) const {
  wchar_t text[512] = L"";
  GetWindowTextW(Control(id), text, 512);
  return WideToUtf8(text);
}

bool WindowDriver::Enabled(ControlId id) const { return IsWindowEnabled(Control(id)) != FALSE; }

bool WindowDriver::Checked(ControlId id) const {
  return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::vector<std::string> WindowDriver::ComboItems(ControlId id) const {
  std::vector<std::string> items;
  const LRESULT count = SendMessageW(Control(id), CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t text[256] = L"";
    if (SendMessageW(Control(id), CB_GETLBTEXTLEN, i, 0) < 255)
      SendMessageW(Control(id), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    items.push_back(WideToUtf8(text));
  }
  return items;
}

int WindowDriver::ProgressPosition() const {
  return static_cast<int>(SendMessageW(Control(ControlId::PB1), PBM_GETPOS, 0, 0));
}

uint32_t WindowDriver::PixelOf(ControlId id, int x, int y) const {
  // The screen's pixel: what the user sees, whoever painted it.
  POINT point{x, y};
  ClientToScreen(Control(id), &point);
  const HDC screen = GetDC(nullptr);
  const COLORREF colour = GetPixel(screen, point.x, point.y);
  ReleaseDC(nullptr, screen);
  return (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
}

void WindowDriver::Click(ControlId id) const {
  PostMessageW(window_, WM_COMMAND, MAKEWPARAM(ChildId(id), BN_CLICKED),
               reinterpret_cast<LPARAM>(Control(id)));
}

void WindowDriver::DoubleClick(ControlId id) const {
  PostMessageW(window_, WM_COMMAND, MAKEWPARAM(ChildId(id), STN_DBLCLK),
               reinterpret_cast<LPARAM>(Control(id)));
}

void WindowDriver::PickMenu(MenuEntryId id) const {
  PostMessageW(window_, WM_COMMAND, MAKEWPARAM(MenuCommandId(id), 0), 0);
}

void WindowDriver::SetChecked(ControlId box, bool checked) const {
  SendMessageW(Control(box), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  Click(box);
}

void WindowDriver::SelectItem(ControlId combo, int index) const {
  SendMessageW(Control(combo), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  PostMessageW(window_, WM_COMMAND, MAKEWPARAM(ChildId(combo), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(Control(combo)));
}

bool WindowDriver::SavePicture(const std::string& path) const {
  RECT frame;
  GetWindowRect(window_, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  // Rows of 3 bytes a pixel, each padded to 4 bytes, bottom row first.
  const int stride = (width * 3 + 3) & ~3;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
  GdiFlush();
  // The file: its header, the bitmap's header, the pixels.
  const DWORD pixelBytes = static_cast<DWORD>(stride * height);
  const DWORD headers = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  BITMAPFILEHEADER file{0x4D42, headers + pixelBytes, 0, 0, headers};
  std::vector<uint8_t> bytes(reinterpret_cast<uint8_t*>(&file),
                             reinterpret_cast<uint8_t*>(&file) + sizeof file);
  const auto* header = reinterpret_cast<const uint8_t*>(&info.bmiHeader);
  bytes.insert(bytes.end(), header, header + sizeof(BITMAPINFOHEADER));
  bytes.insert(bytes.end(), static_cast<uint8_t*>(bits), static_cast<uint8_t*>(bits) + pixelBytes);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  WriteBytes(path, bytes);
  return true;
}

void WindowDriver::Close() const { PostMessageW(window_, WM_CLOSE, 0, 0); }

HWND WindowDriver::WaitForDialog(const std::wstring& caption, int timeoutMs) const {
  HWND dialog = nullptr;
  WaitUntil([&] { return (dialog = FindTopLevel(process_.dwProcessId, L"#32770", caption)) != nullptr; },
            timeoutMs);
  return dialog;
}

std::string WindowDriver::MessageText(HWND box) {
  wchar_t text[1024] = L"";
  GetDlgItemTextW(box, kMessageBoxText, text, 1024);
  return WideToUtf8(text);
}

void WindowDriver::Answer(HWND box, int button) {
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

bool WindowDriver::TypeFileName(HWND dialog, const std::string& path) {
  HWND field = nullptr;
  WaitUntil([&] { return (field = FileNameField(dialog)) != nullptr; });
  if (field == nullptr) return false;
  // Key by key, as typed, then Enter: the dialog's own keyboard handling
  // turns it into its Open or Save button.
  for (wchar_t c : Utf8ToWide(path)) PostMessageW(field, WM_CHAR, c, 1);
  PostMessageW(field, WM_KEYDOWN, VK_RETURN, 0x001C0001);
  PostMessageW(field, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001));
  return true;
}

int WindowDriver::WaitForExit(int timeoutMs) {
  if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process_.hProcess, &code);
  return static_cast<int>(code);
}

}  // namespace tolv::test
