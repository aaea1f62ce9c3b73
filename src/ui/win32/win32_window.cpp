// The main window: its class, creation, message handling and message loops.
#include "ui/win32/win32_window.h"

#include <commctrl.h>

#include <stdexcept>

#include "common/windows_text.h"

namespace tolv::win32 {
namespace {

// The resource id of the program's icon (TolvPack.rc).
constexpr int kIconResource = 1;

DWORD FrameStyle(const WindowDesign& design) {
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  if (design.resizable) style |= WS_THICKFRAME;
  if (design.minimiseButton) style |= WS_MINIMIZEBOX;
  if (design.maximiseButton) style |= WS_MAXIMIZEBOX;
  return style;
}

}  // namespace

void RegisterWindowClass() {
  static bool registered = false;
  if (registered) return;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = Win32Window::WindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
  windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                                      GetSystemMetrics(SM_CXSMICON),
                                                      GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  // The system's button-face colour behind everything.
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszClassName = kWindowClassName;
  if (!RegisterClassExW(&windowClass)) throw std::runtime_error("Cannot register the window class.");
  registered = true;
}

Win32Window::Win32Window(const WindowServices& services) {
  RegisterWindowClass();
  const WindowDesign& design = MainWindow();
  const DWORD style = FrameStyle(design);
  RECT frame{0, 0, design.clientWidth, design.clientHeight};
  AdjustWindowRectEx(&frame, style, TRUE, 0);
  window_ = CreateWindowExW(0, kWindowClassName, Utf8ToWide(design.caption).c_str(), style, design.left,
                            design.top, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                            CreateMainMenu(), GetModuleHandleW(nullptr), this);
  if (window_ == nullptr) throw std::runtime_error("Cannot create the window.");
  dpi_ = WindowDpi(window_);
  fonts_ = std::make_unique<WindowFonts>(dpi_);
  SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_->window()), FALSE);
  controls_ = CreateControls(window_, *fonts_, dpi_);
  tooltips_ = CreateTooltips(window_, controls_);
  FitClientArea(design.left, design.top);
  model_ = std::make_unique<WindowModel>(services, *this);
  model_->FormCreate();
}

Win32Window::~Win32Window() {
  if (window_ != nullptr && IsWindow(window_)) DestroyWindow(window_);
  for (const auto& [colour, brush] : brushes_) DeleteObject(brush);
}

// A menu bar too wide for one line takes two and leaves the client area
// short: the frame grows until the client area has its size.
void Win32Window::FitClientArea(int left, int top) {
  const WindowDesign& design = MainWindow();
  const int width = ScaleToDpi(design.clientWidth, dpi_);
  const int height = ScaleToDpi(design.clientHeight, dpi_);
  for (int attempt = 0; attempt < 3; ++attempt) {
    RECT client;
    RECT outer;
    GetClientRect(window_, &client);
    GetWindowRect(window_, &outer);
    const int dw = width - (client.right - client.left);
    const int dh = height - (client.bottom - client.top);
    if (dw == 0 && dh == 0 && outer.left == left && outer.top == top) return;
    SetWindowPos(window_, nullptr, left, top, outer.right - outer.left + dw, outer.bottom - outer.top + dh,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

// Fonts and rectangles follow the new resolution; the window goes where the
// system suggests, its client area the table's size at the new resolution.
void Win32Window::OnDpiChanged(int dpi, const RECT& suggested) {
  if (dpi <= 0 || dpi == dpi_) return;
  dpi_ = dpi;
  auto fonts = std::make_unique<WindowFonts>(dpi_);
  SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(fonts->window()), FALSE);
  PlaceControls(controls_, *fonts, dpi_);
  fonts_ = std::move(fonts);  // the old fonts go once no control uses them
  SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  FitClientArea(suggested.left, suggested.top);
  InvalidateRect(window_, nullptr, TRUE);
}

int Win32Window::Run(bool quitAfterShow) {
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
  if (quitAfterShow) PostMessageW(window_, WM_CLOSE, 0, 0);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    // Tab, the arrow keys and the access keys move between the controls.
    if (IsDialogMessageW(window_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

void Win32Window::ProcessPendingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    // The outer loop ends the program; leave the request to it.
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (IsDialogMessageW(window_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Closed from inside a command (the end of a transfer that a close
// interrupted): the window goes once the command has returned.
void Win32Window::CloseWindow() { PostMessageW(window_, WM_CLOSE, 0, 0); }

std::string Win32Window::DecimalSeparator() const {
  wchar_t separator[8] = L".";
  if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8) == 0) return ".";
  return WideToUtf8(separator);
}

LRESULT CALLBACK Win32Window::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || self->window_ != window) return DefWindowProcW(window, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

LRESULT Win32Window::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (model_) OnCommand(wParam, lParam);
      return 0;
    case WM_CTLCOLORSTATIC:
      return OnStaticColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_CLOSE:
      // During a transfer the model cancels it and closes the window later.
      if (!model_ || model_->RequestClose()) DestroyWindow(window_);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        RememberFocus();
      } else if (!HIWORD(wParam)) {  // not while minimised
        RestoreFocus();
      }
      return 0;
    case WM_SETFOCUS: RestoreFocus(); return 0;
    case WM_DPICHANGED: OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam)); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window_, message, wParam, lParam);
  }
}

void Win32Window::RememberFocus() {
  const HWND focus = GetFocus();
  if (focus != nullptr && IsChild(window_, focus)) focus_ = focus;
}

void Win32Window::RestoreFocus() {
  const bool known = focus_ != nullptr && IsWindow(focus_);
  HWND target = focus_;
  // A disabled control passes the focus on to the next one in tab order.
  if (!known) target = GetNextDlgTabItem(window_, nullptr, FALSE);
  if (known && !IsWindowEnabled(focus_)) target = GetNextDlgTabItem(window_, focus_, FALSE);
  if (target != nullptr) {
    SetFocus(target);
    focus_ = target;
  }
}

void Win32Window::OnCommand(WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  // Menu entries arrive without a control.
  if (lParam == 0) {
    if (const std::optional<MenuEntryId> entry = MenuEntryForCommandId(id); entry && code == 0)
      model_->PickMenuEntry(*entry);
    return;
  }
  const std::optional<ControlId> control = ControlForChildId(id);
  if (!control) return;
  const HWND handle = Control(*control);
  switch (tolv::Control(*control).kind) {
    case ControlKind::Button:
      // The time of the mouse button's (or key's) release that made the click.
      if (code == BN_CLICKED)
        model_->Click(*control, static_cast<uint32_t>(GetMessageTime()), GetDoubleClickTime());
      break;
    case ControlKind::CheckBox:
      if (code == BN_CLICKED) {
        const bool checked = SendMessageW(handle, BM_GETCHECK, 0, 0) == BST_CHECKED;
        if (shown_) shown_->controls[Index(*control)].checked = checked;
        model_->SetChecked(*control, checked);
      }
      break;
    case ControlKind::ComboBox:
      if (code == CBN_SELCHANGE) {
        const int selected = static_cast<int>(SendMessageW(handle, CB_GETCURSEL, 0, 0));
        if (shown_) shown_->controls[Index(*control)].selected = selected;
        model_->SelectItem(*control, selected);
      }
      break;
    case ControlKind::ColouredLabel:
    case ControlKind::StatusLine:
      if (code == STN_DBLCLK) model_->DoubleClick(*control);
      break;
    default: break;
  }
}

}  // namespace tolv::win32
