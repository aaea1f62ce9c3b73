// Renders a picture of the main window into a PNG file, without a display:
//
//   tolvpack-screenshot OUTPUT.png
//
// The window shows a typical state (Firmware, Flash and EEPROM present, a
// DVB-s layout, SystemID 406) inside a plain drawn frame with its caption.
// The model name comes from a "Firmware.dat" in the current directory, as in
// the program itself.
#include <QApplication>
#include <QCheckBox>
#include <QPainter>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "flash/layout.h"
#include "ui/main_window.h"
#include "workspace/user_interaction.h"

namespace {

// Nobody to ask: questions are answered No, but a message (a model list that
// cannot be read, say) is printed.
class PrintingInteraction : public tolv::SilentInteraction {
 public:
  void Information(const std::string& text) override { std::cerr << text << "\n"; }
  void Message(const std::string& text) override { std::cerr << text << "\n"; }
};

class NoFileDialogs : public tolv::FileDialogs {
 public:
  std::string Choose(const tolv::FileDialogRequest&) override { return ""; }
};

void FillDemoWorkspace(tolv::Workspace& workspace) {
  workspace.Present(tolv::ComponentKind::Firmware) = true;
  workspace.Present(tolv::ComponentKind::Flash) = true;
  workspace.Present(tolv::ComponentKind::Eeprom) = true;
  workspace.systemId = 406;
  workspace.layoutVariant = tolv::kLayoutDvbS;
}

// The window's client area and menu bar inside a frame with a caption bar.
QImage Framed(const QPixmap& client, const QString& caption, const QFont& font) {
  const int border = 4;
  const int titleHeight = 22;
  QImage image(client.width() + 2 * border, client.height() + titleHeight + 2 * border, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.fillRect(image.rect(), QColor(212, 208, 200));
  painter.setPen(QColor(128, 128, 128));
  painter.drawRect(image.rect().adjusted(0, 0, -1, -1));
  const QRect title(border, border, client.width(), titleHeight - 1);
  painter.fillRect(title, QColor(10, 36, 106));
  QFont titleFont = font;
  titleFont.setBold(true);
  titleFont.setPixelSize(12);
  painter.setFont(titleFont);
  painter.setPen(Qt::white);
  painter.drawText(title.adjusted(6, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, caption);
  // Minimize and close buttons.
  for (int i = 0; i < 2; ++i) {
    const QRect box(title.right() - 19 - i * 18, title.top() + 3, 16, 14);
    painter.fillRect(box, QColor(212, 208, 200));
    painter.setPen(Qt::black);
    if (i == 0) {
      painter.drawLine(box.left() + 4, box.top() + 3, box.right() - 4, box.bottom() - 3);
      painter.drawLine(box.left() + 4, box.bottom() - 3, box.right() - 4, box.top() + 3);
    } else {
      painter.drawLine(box.left() + 4, box.bottom() - 3, box.right() - 7, box.bottom() - 3);
    }
  }
  painter.drawPixmap(border, border + titleHeight, client);
  return image;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tolvpack-screenshot OUTPUT.png\n");
    return 2;
  }
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);

  tolv::Workspace workspace;
  FillDemoWorkspace(workspace);
  PrintingInteraction interaction;
  NoFileDialogs dialogs;
  tolv::WindowServices services{&workspace, &interaction, &dialogs, {}};
  tolv::TForm1 window(services);
  window.CheckBox3->setChecked(true);
  window.CheckBox4->setChecked(true);
  window.CheckBox8->setChecked(true);
  window.CheckBox9->setChecked(true);
  window.show();
  app.processEvents();

  const QImage picture = Framed(window.grab(), window.windowTitle(), window.font());
  if (!picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "tolvpack-screenshot: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
