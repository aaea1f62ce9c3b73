// TolvPack.exe: the main window program on Windows.
//
//   TolvPack                    opens the window
//   TolvPack --port NAME        also lists the serial port NAME when it can
//                               be opened (a device name that Windows does
//                               not list among its serial ports)
//   TolvPack --in-documents     starts in the Documents folder of the user
//                               who runs it (the Start-menu entry's way)
//   TolvPack --quit-after-show  opens the window and closes it as soon as it
//                               has been painted (for start-up checks)
//   TolvPack --help, --version  tells the usage or the version
#include <windows.h>
// After windows.h, which they need.
#include <shellapi.h>
#include <shlobj.h>

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "common/version.h"
#include "common/windows_text.h"
#include "link/transport.h"
#include "ui/win32/win32_file_dialogs.h"
#include "ui/win32/win32_interaction.h"
#include "ui/win32/win32_ports.h"
#include "ui/win32/win32_window.h"
#include "workspace/workspace.h"

namespace {

constexpr const char* kUsage =
    "usage: TolvPack [--port NAME]... [--in-documents] [--quit-after-show] | --help | --version\n";

// A window program has no console of its own: text for the command line goes
// to the standard output it was given (a pipe, a file) or to the console of
// the program that started it; with neither it is shown in a message box.
void Tell(const std::string& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS))
    out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD written = 0;
  if (out != nullptr && out != INVALID_HANDLE_VALUE &&
      WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
    return;
  tolv::win32::ShowMessageBox(nullptr, text, MB_OK | MB_ICONINFORMATION);
}

struct Options {
  bool quitAfterShow = false;
  bool inDocuments = false;
  std::vector<std::string> extraPorts;
};

// Returns the exit code when the command line is all there is to do.
std::optional<int> ParseArguments(const std::vector<std::string>& args, Options& options) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h" || args[i] == "/?") {
      Tell(kUsage);
      return 0;
    }
    if (args[i] == "--version") {
      Tell(std::string("TolvPack ") + tolv::kVersion + "\n");
      return 0;
    }
    if (args[i] == "--quit-after-show") {
      options.quitAfterShow = true;
    } else if (args[i] == "--in-documents") {
      options.inDocuments = true;
    } else if (args[i] == "--port" && i + 1 < args.size()) {
      options.extraPorts.push_back(args[++i]);
    } else {
      Tell(kUsage);
      return 2;
    }
  }
  return std::nullopt;
}

std::vector<std::string> Arguments() {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; wide && i < count; ++i) args.push_back(tolv::WideToUtf8(wide[i]));
  if (wide) LocalFree(wide);
  return args;
}

// The current folder becomes the user's Documents folder; stays as it is
// when the system does not tell that folder.
void EnterDocumentsFolder() {
  wchar_t path[MAX_PATH] = L"";
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path)))
    SetCurrentDirectoryW(path);
}

int RunWindow(const Options& options) {
  if (options.inDocuments) EnterDocumentsFolder();
  tolv::Workspace workspace;
  tolv::win32::Win32Interaction interaction;
  tolv::win32::Win32FileDialogs fileDialogs;
  tolv::WindowServices services;
  services.workspace = &workspace;
  services.interaction = &interaction;
  services.fileDialogs = &fileDialogs;
  services.listSerialPorts = [&options] {
    return tolv::win32::ListComPorts(tolv::Serial_ListPorts(), options.extraPorts,
                                     [](const std::string& name) { return tolv::IsDeviceAvailable(name); });
  };
  tolv::win32::Win32Window window(services);
  interaction.SetOwner(window.handle());
  fileDialogs.SetOwner(window.handle());
  return window.Run(options.quitAfterShow);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  Options options;
  if (const std::optional<int> done = ParseArguments(Arguments(), options)) return *done;
  try {
    return RunWindow(options);
  } catch (const std::exception& error) {
    tolv::win32::ShowMessageBox(nullptr, error.what(), MB_OK | MB_ICONINFORMATION);
    return 1;
  }
}
