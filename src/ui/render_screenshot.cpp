// Renders a picture of the main window into a PNG file, without a display:
//
//   tolvpack-screenshot OUTPUT.png
//   tolvpack-screenshot --job-result OUTPUT.png
//
// The window shows a typical state (Firmware, Flash and EEPROM present, a
// DVB-s layout, SystemID 406) inside a plain drawn frame with its caption.
// With --job-result the picture is the box that ends a compare of the
// receiver with a backup folder (Toppy menu), its text made by the same
// functions from a demonstration receiver whose EEPROM differs in two bytes.
// The model name comes from a "Firmware.dat" in the current directory, as in
// the program itself.
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "flash/layout.h"
#include "ui/main_window.h"
#include "workspace/backup_diff.h"
#include "workspace/transfers.h"
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

// The text of the box that ends a compare job: the download's summary, the
// comparison, and the receiver's state.
std::string CompareResultText(tolv::Workspace backup) {
  backup.Image(tolv::ComponentKind::Firmware).assign(1536000, 0x90);
  tolv::Workspace receiver = backup;
  receiver.Image(tolv::ComponentKind::Eeprom)[0x12] ^= 0x01;
  receiver.Image(tolv::ComponentKind::Eeprom)[0x13] ^= 0x80;
  tolv::DownloadReport report;
  report.opened = true;
  report.systemId = backup.systemId;
  for (tolv::ComponentKind kind : tolv::kAllComponents) {
    if (!backup.Present(kind)) continue;
    tolv::BlockOutcome block;
    block.kind = kind;
    block.stored = true;
    const int64_t wire = tolv::Transfer_WireSize(kind);
    block.byteCount = static_cast<int32_t>(wire > 0 ? wire : static_cast<int64_t>(backup.Image(kind).size()));
    report.blocks.push_back(block);
  }
  return tolv::Transfer_Summary(report) + "\n" +
         tolv::BackupDiff_Text(tolv::Backups_Compare(backup, receiver), "TF5000PVR-406-20261208-1450",
                               "the receiver on USB") +
         "The receiver waits in its loader: switch it off and on to start it.";
}

}  // namespace

int main(int argc, char* argv[]) {
  const bool jobResult = argc == 3 && std::string(argv[1]) == "--job-result";
  if (argc != 2 && !jobResult) {
    std::fprintf(stderr, "usage: tolvpack-screenshot [--job-result] OUTPUT.png\n");
    return 2;
  }
  const char* output = argv[argc - 1];
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

  QImage picture = Framed(window.grab(), window.windowTitle(), window.font());
  if (jobResult) {
    // The box as QtUserInteraction::Information shows it.
    QMessageBox box(QMessageBox::Information, "TolvPack",
                    QString::fromStdString(CompareResultText(workspace)), QMessageBox::Ok);
    box.setFont(window.font());
    box.show();
    app.processEvents();
    picture = Framed(box.grab(), box.windowTitle(), window.font());
  }
  if (!picture.save(QString::fromLocal8Bit(output), "PNG")) {
    std::fprintf(stderr, "tolvpack-screenshot: cannot write %s\n", output);
    return 1;
  }
  return 0;
}
