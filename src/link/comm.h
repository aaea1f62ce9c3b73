// The receiver link of the program: the Comm_* operations on the one
// process-wide Link (link/link.h describes each operation in full). The window
// and the command line use these; tests use their own Link objects.
//
// Typical download: Comm_Open, Comm_Reboot, Comm_Close, then Comm_Open and
// Comm_DownloadMode repeated (with Comm_Close before each new Comm_Open) while
// it returns 2371; on 0 Comm_GetReceiverInfo, one Comm_TransferBlock per
// block type, Comm_End, Comm_Close. An upload is the same with
// Comm_UploadMode (repeated while 2387); TFD_SaveToToppy (link/tfd_upload.h)
// runs it whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/link.h"

namespace tolv {

// The process-wide link, made on first use with the real devices.
Link& Comm_Link();

// "USB" in any case selects the USB receiver (waiting for it, status 1 on
// every poll, cancellable); any other text names a serial port. 0, 2321
// (serial port cannot be opened), 2322 (cancelled while waiting for USB) or
// kOpenUsbNotFound (no callback and no USB receiver within kUnattendedWaitMs).
int32_t Comm_Open(const std::string& device, CommCallback callback);
// Always 0; harmless when closed. Status 8.
int32_t Comm_Close();
int32_t Comm_Reboot();
int32_t Comm_DownloadMode();
int32_t Comm_UploadMode();
// buffer holds bufferCapacity bytes; nothing is written past it. *size: out
// in download, in (the data length) in upload.
int32_t Comm_TransferBlock(uint8_t blockType, uint8_t* buffer, int32_t bufferCapacity, int32_t* size);
int32_t Comm_End();
// Only sets the cancel flag; may be called from inside the callback.
int32_t Comm_Cancel();
// info (may be null) receives kReceiverInfoSize bytes.
void Comm_GetReceiverInfo(int32_t* systemId, uint8_t* info);
// Bytes on the wire of the block under way (Link::transferSize): 0 until the
// receiver has reported its size. May be called from inside the callback.
int32_t Comm_TransferSize();
// A name starts logging to that file (and "CommDump.bin" beside it); an empty
// name stops it. Throws FileError.
void Comm_SetLogFile(const std::string& fileName);
// Appends a line to the log when logging is on. Throws FileError.
void Comm_Log(const std::string& line);

// Why the receiver seen on USB could not be used at the last poll (no
// permission, held by another program); empty when none was seen.
std::string Comm_UsbDiagnostic();

// Why the last Comm_Open of a serial port failed (Link::openDiagnostic): no
// such port, no permission (naming the group to join), held by another
// program, not a serial port; empty when it did not fail.
std::string Comm_OpenDiagnostic();

// Polls once whether a USB receiver is present and usable (opens it and closes
// it again). diagnostic (may be null) receives the reason when it is present
// but unusable.
bool Comm_UsbReceiverPresent(std::string* diagnostic);

// The serial ports that can be opened now (Serial_ListPorts). The window and
// `tolv ports` put "USB" before them.
std::vector<std::string> Comm_ListSerialPorts();

}  // namespace tolv
