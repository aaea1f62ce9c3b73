// TolvPack: the main window program.
//
//   TolvPack                    opens the window
//   TolvPack --quit-after-show  opens the window and ends as soon as it is
//                               shown (for start-up timings)
//   TolvPack --port PATH        also lists the serial port PATH (one the
//                               machine's port list does not hold, such as
//                               the pseudo-terminal of the receiver emulator)
//   TolvPack --help, --version  prints the usage line or the version
#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/save_interrupt.h"
#include "common/version.h"
#include "link/comm.h"
#include "link/hard_stop.h"
#include "link/transport.h"
#include "ui/display.h"
#include "ui/main_window.h"
#include "ui/qt_file_dialogs.h"
#include "ui/qt_interaction.h"
#include "workspace/workspace.h"

namespace {

constexpr const char* kUsage = "usage: TolvPack [--port PATH]... [--quit-after-show] | --help | --version\n";

constexpr const char* kNoDisplay =
    "TolvPack: no display is available, so the window cannot be opened.\n"
    "Start TolvPack from a desktop session (or with DISPLAY set to a running X server),\n"
    "or use the command-line tool \"tolv\" instead.\n";

// The toolkit ends the program when it cannot reach the display it was given
// (DISPLAY set, but no server answering); end with the same plain text.
void FatalMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtFatalMsg) {
    std::fputs(kNoDisplay, stderr);
    std::fprintf(stderr, "(%s)\n", message.toLocal8Bit().constData());
    std::_Exit(1);
  }
  std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

// Ends the program once the window has been painted for the first time.
class QuitWhenPainted : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) QTimer::singleShot(0, qApp, &QApplication::quit);
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

int main(int argc, char* argv[]) {
  bool quitAfterShow = false;
  std::vector<std::string> extraPorts;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("TolvPack %s\n", tolv::kVersion);
      return 0;
    }
    if (std::strcmp(argv[i], "--quit-after-show") == 0) {
      quitAfterShow = true;
    } else if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
      extraPorts.emplace_back(argv[++i]);
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  // Without a display the toolkit can only give up; say so in plain words
  // instead of a crash report.
  if (!tolv::DisplayAvailable()) {
    std::fputs(kNoDisplay, stderr);
    return 1;
  }
  // A signal that ends the window during a transfer releases the serial port
  // first, so that the next run can open it.
  tolv::Link_ReleasePortsOnHardStop();
  // Ending it during a save leaves no temporary file either.
  tolv::Saves_CleanUpBeforeEnding();
  qInstallMessageHandler(FatalMessageHandler);
  QApplication app(argc, argv);
  // The desktop entry's name, by which desktops match the window to its icon.
  QGuiApplication::setDesktopFileName("org.tolvpack.TolvPack");
  qInstallMessageHandler(nullptr);

  tolv::Workspace workspace;
  tolv::QtUserInteraction interaction;
  tolv::QtFileDialogs fileDialogs(nullptr);
  auto listPorts = [&extraPorts] {
    std::vector<std::string> ports = tolv::Comm_ListSerialPorts();
    for (const std::string& port : extraPorts)
      if (tolv::IsDeviceAvailable(port)) ports.push_back(port);
    return ports;
  };
  tolv::WindowServices services{&workspace, &interaction, &fileDialogs, listPorts};
  tolv::TForm1 window(services);
  QuitWhenPainted quitWhenPainted;
  if (quitAfterShow) window.centralWidget()->installEventFilter(&quitWhenPainted);
  window.show();
  return app.exec();
}
