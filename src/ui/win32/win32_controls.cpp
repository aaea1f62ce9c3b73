// Creation of the window's controls, menu bar and tooltips from the tables.
// No behaviour lives here.
#include "ui/win32/win32_controls.h"

#include <commctrl.h>

#include <stdexcept>
#include <string>

#include "common/windows_text.h"

namespace tolv::win32 {
namespace {

// Room for a drop-down list's items below its closed field: the height the
// combo box is created with.
constexpr int kDropDownHeight = 240;

HFONT MakeFont(const FontStyle& design, int dpi) {
  // A negative height asks for the character height itself (without the
  // internal leading), in pixels.
  return CreateFontW(-ScaleToDpi(design.pixelHeight, dpi), 0, 0, 0, design.bold ? FW_BOLD : FW_NORMAL, FALSE,
                     FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, Utf8ToWide(design.family).c_str());
}

struct ClassAndStyle {
  const wchar_t* className;
  DWORD style;
};

ClassAndStyle ForKind(ControlKind kind) {
  switch (kind) {
    case ControlKind::Group: return {WC_BUTTONW, BS_GROUPBOX};
    case ControlKind::Button: return {WC_BUTTONW, BS_PUSHBUTTON | WS_TABSTOP};
    case ControlKind::CheckBox: return {WC_BUTTONW, BS_AUTOCHECKBOX | WS_TABSTOP};
    case ControlKind::ComboBox: return {WC_COMBOBOXW, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP};
    // Hints and double-clicks need the notifying form of a static control.
    case ControlKind::StatusLine: return {WC_STATICW, SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_NOTIFY};
    case ControlKind::ProgressBar: return {PROGRESS_CLASSW, PBS_SMOOTH};
    case ControlKind::ColouredLabel:
      return {WC_STATICW, SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX | SS_NOTIFY};
  }
  return {WC_STATICW, 0};
}

// A drop-down list is created with room for its items below its closed
// field, whose height is set apart: the rectangle's less the two 3-pixel
// borders around the selection.
void SetClosedFieldHeight(HWND combo, const Rect& rect, int dpi) {
  const int border = ScaleToDpi(6, dpi);
  if (rect.height > border)
    SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), rect.height - border);
}

HWND CreateControl(HWND window, const ControlDesign& design, const WindowFonts& fonts, int dpi) {
  const ClassAndStyle kind = ForKind(design.kind);
  const Rect rect = ScaledClientRect(design.id, dpi);
  const int height = design.kind == ControlKind::ComboBox ? ScaleToDpi(kDropDownHeight, dpi) : rect.height;
  const HWND control = CreateWindowExW(
      0, kind.className, Utf8ToWide(design.caption).c_str(), WS_CHILD | WS_VISIBLE | kind.style, rect.left,
      rect.top, rect.width, height, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ChildId(design.id))),
      GetModuleHandleW(nullptr), nullptr);
  if (control == nullptr)
    throw std::runtime_error(std::string("Cannot create the control ") + design.name + ".");
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts.For(design.font)), FALSE);
  if (design.kind == ControlKind::ProgressBar)
    SendMessageW(control, PBM_SETRANGE32, kProgressMin, kProgressMax);
  if (design.kind == ControlKind::ComboBox) SetClosedFieldHeight(control, rect, dpi);
  return control;
}

}  // namespace

Rect ScaledClientRect(ControlId id, int dpi) {
  const Rect rect = ClientRect(id);
  return {ScaleToDpi(rect.left, dpi), ScaleToDpi(rect.top, dpi), ScaleToDpi(rect.width, dpi),
          ScaleToDpi(rect.height, dpi)};
}

int WindowDpi(HWND window) {
  // Windows 10 (1607) tells each window's own; older systems one for all.
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr && window != nullptr) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi != 0) return static_cast<int>(dpi);
  }
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kLayoutDpi;
}

std::optional<ControlId> ControlForChildId(int childId) {
  const int index = childId - kFirstControlId;
  if (index < 0 || index >= static_cast<int>(kControlCount)) return std::nullopt;
  return static_cast<ControlId>(index);
}

std::optional<MenuEntryId> MenuEntryForCommandId(int commandId) {
  const int index = commandId - kFirstMenuCommandId;
  if (index < 0 || index >= static_cast<int>(kMenuEntryCount)) return std::nullopt;
  return static_cast<MenuEntryId>(index);
}

WindowFonts::WindowFonts(int dpi) : window_(MakeFont(kWindowFont, dpi)), label_(MakeFont(kLabelFont, dpi)) {}

WindowFonts::~WindowFonts() {
  DeleteObject(window_);
  DeleteObject(label_);
}

ControlHandles CreateControls(HWND window, const WindowFonts& fonts, int dpi) {
  ControlHandles handles{};
  for (const ControlDesign& design : ControlTable())
    handles[Index(design.id)] = CreateControl(window, design, fonts, dpi);
  return handles;
}

void PlaceControls(const ControlHandles& controls, const WindowFonts& fonts, int dpi) {
  for (const ControlDesign& design : ControlTable()) {
    const HWND control = controls[Index(design.id)];
    const Rect rect = ScaledClientRect(design.id, dpi);
    const bool combo = design.kind == ControlKind::ComboBox;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts.For(design.font)), FALSE);
    SetWindowPos(control, nullptr, rect.left, rect.top, rect.width,
                 combo ? ScaleToDpi(kDropDownHeight, dpi) : rect.height, SWP_NOZORDER | SWP_NOACTIVATE);
    if (combo) SetClosedFieldHeight(control, rect, dpi);
    InvalidateRect(control, nullptr, TRUE);
  }
}

HMENU CreateMainMenu() {
  const HMENU bar = CreateMenu();
  for (const MenuDesign& menu : MainMenu()) {
    const HMENU popup = CreatePopupMenu();
    for (const MenuItemDesign& item : menu.items) {
      if (item.IsSeparator()) {
        AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
      } else {
        // Menus read "&" and "&&" as the stored captions mean them.
        AppendMenuW(popup, MF_STRING, static_cast<UINT_PTR>(MenuCommandId(*item.id)),
                    Utf8ToWide(item.caption).c_str());
      }
    }
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), Utf8ToWide(menu.caption).c_str());
  }
  return bar;
}

HWND CreateTooltips(HWND window, const ControlHandles& controls) {
  const HWND tips = CreateWindowExW(
      WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (tips == nullptr) return nullptr;
  for (const ControlDesign& design : ControlTable()) {
    if (design.hint[0] == '\0' && design.kind != ControlKind::StatusLine) continue;
    SetTooltipText(tips, window, controls[Index(design.id)], Utf8ToWide(design.hint));
  }
  return tips;
}

void SetTooltipText(HWND tooltips, HWND window, HWND control, const std::wstring& text) {
  if (tooltips == nullptr) return;
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = const_cast<wchar_t*>(text.c_str());
  // A tool added again replaces the earlier one with its text.
  SendMessageW(tooltips, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageW(tooltips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

}  // namespace tolv::win32
