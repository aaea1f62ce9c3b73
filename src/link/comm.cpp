// The Comm_* operations on the process-wide link.

#include "link/comm.h"

namespace tolv {

Link& Comm_Link() {
  static Link link;
  return link;
}

int32_t Comm_Open(const std::string& device, CommCallback callback) {
  return Comm_Link().Open(device, std::move(callback));
}
int32_t Comm_Close() { return Comm_Link().Close(); }
int32_t Comm_Reboot() { return Comm_Link().Reboot(); }
int32_t Comm_DownloadMode() { return Comm_Link().DownloadMode(); }
int32_t Comm_UploadMode() { return Comm_Link().UploadMode(); }
int32_t Comm_TransferBlock(uint8_t blockType, uint8_t* buffer, int32_t bufferCapacity, int32_t* size) {
  return Comm_Link().TransferBlock(blockType, buffer, bufferCapacity, size);
}
int32_t Comm_End() { return Comm_Link().End(); }
int32_t Comm_Cancel() { return Comm_Link().Cancel(); }
void Comm_GetReceiverInfo(int32_t* systemId, uint8_t* info) { Comm_Link().GetReceiverInfo(systemId, info); }
int32_t Comm_TransferSize() { return Comm_Link().transferSize(); }
void Comm_SetLogFile(const std::string& fileName) { Comm_Link().SetLogFile(fileName); }
void Comm_Log(const std::string& line) { Comm_Link().Log(line); }
std::string Comm_UsbDiagnostic() { return Comm_Link().usbDiagnostic(); }
std::string Comm_OpenDiagnostic() { return Comm_Link().openDiagnostic(); }

bool Comm_UsbReceiverPresent(std::string* diagnostic) {
  std::string why;
  const bool present = Link_PollUsb(&why) != nullptr;
  if (diagnostic) *diagnostic = why;
  return present;
}

std::vector<std::string> Comm_ListSerialPorts() { return Serial_ListPorts(); }

}  // namespace tolv
