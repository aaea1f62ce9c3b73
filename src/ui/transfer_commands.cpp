// The receiver transfers: From Toppy and To Toppy with their progress display,
// cancel button and the locking of the controls that must not run meanwhile.
#include <QAction>
#include <QCheckBox>
#include <QPushButton>

#include "ui/main_window.h"

namespace tolv {

void TForm1::Controls_Lock() {
  for (QAction* action : {MenuLoadLoaderBIN, MenuLoadFirmwareBIN, MenuLoadFlashBIN, MenuLoadEEPROMBIN,
                          MenuLoadDefaultsBIN, MenuLoadBackgroundBIN, MenuLoadFlashDMP, MenuLoadFlashBlock,
                          MenuSaveLoaderBIN, MenuSaveFirmwareBIN, MenuSaveFlashBIN, MenuSaveEEPROMBIN,
                          MenuSaveDefaultsBIN, MenuSaveBackgroundBIN, MenuSaveFlashDMP, MenuSaveFlashBlocks})
    action->setEnabled(false);
  for (QPushButton* button :
       {ButtonLoadSTD, ButtonLoadTFD, ButtonLoadFromToppy, ButtonSaveSTD, ButtonSaveTFD, ButtonSaveToToppy})
    button->setEnabled(false);
  for (QCheckBox* box : {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox7,
                         CheckBox8, CheckBox9, CheckBox10, CheckBox13, CheckBox14})
    box->setEnabled(false);
}

void TForm1::Controls_Unlock() {
  for (QAction* action : {MenuLoadLoaderBIN, MenuLoadFirmwareBIN, MenuLoadFlashBIN, MenuLoadEEPROMBIN,
                          MenuLoadDefaultsBIN, MenuLoadBackgroundBIN, MenuLoadFlashDMP, MenuLoadFlashBlock,
                          MenuSaveLoaderBIN, MenuSaveFirmwareBIN, MenuSaveFlashBIN, MenuSaveEEPROMBIN,
                          MenuSaveDefaultsBIN, MenuSaveBackgroundBIN, MenuSaveFlashDMP, MenuSaveFlashBlocks})
    action->setEnabled(true);
  for (QPushButton* button : {ButtonLoadSTD, ButtonLoadTFD, ButtonLoadFromToppy, ButtonSaveSTD, ButtonSaveTFD,
                              ButtonSaveToToppy, ButtonNew})
    button->setEnabled(true);
  for (QCheckBox* box : {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox7,
                         CheckBox8, CheckBox9, CheckBox10, CheckBox13, CheckBox14})
    box->setEnabled(true);
}

void TForm1::RequestTransferCancel() {}

void TForm1::ButtonLoadFromToppyClick() {
  interaction_.Information("Receiver transfers are not available yet.");
}

void TForm1::ButtonSaveToToppyClick() {
  interaction_.Information("Receiver transfers are not available yet.");
}

void TForm1::Transfer_Progress(uint8_t, double) {}

}  // namespace tolv
