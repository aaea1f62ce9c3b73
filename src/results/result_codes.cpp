#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "results/result_codes.h"

namespace tolv {
namespace {

// Every code with a message of its own, in increasing code order (checked at
// compile time). A code's three hexadecimal digits are its area, the
// operation within the area and the error within the operation; error 0xF is
// always "No valid Flash loaded" and 0xE "Function not yet supported".
constexpr ResultMessage kMessages[] = {
    {0x0000, "Finished successfully"},
    // Flash and EEPROM images
    {0x0111, "Flash_LoadFromFile: File not found"},
    {0x0112, "Flash_LoadFromFile: Invalid .std file size"},
    {0x0113, "Flash_LoadFromFile: Invalid .std file header"},
    {0x0114, "Flash_LoadFromFile: Invalid .std file version"},
    {0x0115, "Flash_LoadFromFile: System ID <>406, 1416"},
    {0x0117, "Flash_LoadFromFile: .std Unpacking failed"},
    {0x0118, "Flash_LoadFromFile: Invalid .tfd file header CRC"},
    {0x0119, "Flash_LoadFromFile: Failed to decompress a .tfd data block"},
    {0x011A, "Flash_LoadFromFile: Invalid .tfd data CRC"},
    {0x011B, "Flash_LoadFromFile: No Flash block in .tfd file"},
    {0x011C, "Flash_LoadFromFile: No EEPROM block in .tfd file"},
    {0x0121, "Flash_LoadFromToppy: Failed to open the serial port"},
    {0x0122, "Flash_LoadFromToppy: Invalid system ID (<>406, 1416)"},
    {0x0125, "Flash_LoadFromToppy: UnpackFlash failed"},
    {0x0127, "Flash_LoadFromToppy: Download has been canceled"},
    {0x0128, "Flash_LoadFromToppy: Timeout while transfering data"},
    {0x0131, "STB_DecodeModelID: Invalid magic"},
    {0x0132, "STB_DecodeModelID: Invalid length"},
    {0x0133, "STB_DecodeModelID: Invalid version"},
    {0x014F, "EEPROM_GetParameter: No valid Flash loaded"},
    {0x0151, "Flash_SaveToFile: Invalid file name"},
    {0x0152, "Flash_SaveToFile: PackFlashData failed"},
    {0x015F, "Flash_SaveToFile: No valid Flash loaded"},
    {0x0161, "Flash_SaveToToppy: Failed to open the serial port"},
    {0x0164, "Flash_SaveToToppy: PackFlash failed"},
    {0x0167, "Flash_SaveToToppy: Upload has been canceled"},
    {0x0168, "Flash_SaveToToppy: Timeout while transfering data"},
    {0x017F, "EEPROM_SetParameter: No valid Flash loaded"},
    {0x0181, "Flash_Rebuild: PackFlashData failed"},
    {0x0191, "Flash_MemoryRead: Start address out of range"},
    {0x0192, "Flash_MemoryRead: Start + length out of range"},
    {0x01A1, "Flash_MemoryWrite: Start address out of range"},
    {0x01A2, "Flash_MemoryWrite: Start + length out of range"},
    {0x01B1, "EEPROM_MemoryRead: Start address out of range"},
    {0x01B2, "EEPROM_MemoryRead: Start + length out of range"},
    {0x01C1, "EEPROM_MemoryWrite: Start address out of range"},
    {0x01C2, "EEPROM_MemoryWrite: Start + length out of range"},
    {0x01DF, "Flash_GetSystemID: No valid Flash loaded"},
    {0x01EF, "Flash_GetModelID: No valid Flash loaded"},
    // Satellite table
    {0x0221, "Satellite_GetParameter: Index out of bounds"},
    {0x022F, "Satellite_GetParameter: No valid Flash loaded"},
    {0x0231, "Satellite_SetParameter: Index out of bounds"},
    {0x023F, "Satellite_SetParameter: No valid Flash loaded"},
    {0x0241, "Satellite_Add: The sat table is full"},
    {0x024F, "Satellite_Add: No valid Flash loaded"},
    {0x0251, "Satellite_Remove: Index out of bounds"},
    {0x025F, "Satellite_Remove: No valid Flash loaded"},
    {0x026E, "Satellite_Move: Function not yet supported"},
    {0x026F, "Satellite_Move: No valid Flash loaded"},
    // Tuner settings
    {0x0311, "Tuner_GetParameter: Sat-index out of bounds"},
    {0x0312, "Tuner_GetParameter: Tuner-index out of bounds"},
    {0x031F, "Tuner_GetParameter: No valid Flash loaded"},
    {0x0321, "Tuner_SetParameter: Sat-index out of bounds"},
    {0x0322, "Tuner_SetParameter: Tuner-index out of bounds"},
    {0x032F, "Tuner_SetParameter: No valid Flash loaded"},
    // Transponder table
    {0x0421, "Transponder_GetParameter: Sat-index out of bounds"},
    {0x0422, "Transponder_GetParameter: Transponder-index out of bounds"},
    {0x042F, "Transponder_GetParameter: No valid Flash loaded"},
    {0x0431, "Transponder_SetParameter: Sat-index out of bounds"},
    {0x0432, "Transponder_SetParameter: Transponder-index out of bounds"},
    {0x043F, "Transponder_SetParameter: No valid Flash loaded"},
    {0x0441, "Transponder_Add: Sat-index out of bounds"},
    {0x0442, "Transponder table is full"},
    {0x044F, "Transponder_Add: No valid Flash loaded"},
    {0x0451, "Transponder_Remove: Sat-index out of bounds"},
    {0x0452, "Transponder_Remove: Transponder-index out of bounds"},
    {0x045F, "Transponder_Remove: No valid Flash loaded"},
    {0x0461, "Transponder_Move: Sat-index out of bounds"},
    {0x0462, "Transponder_Move: Transponder from-index out of bounds"},
    {0x0463, "Transponder_Move: Transponder to-index out of bounds"},
    {0x046E, "Transponder_Move: Function not yet supported"},
    {0x046F, "Transponder_Move: No valid Flash loaded"},
    // Service table
    {0x0521, "Service_GetParameter: Service-index out of bounds"},
    {0x052F, "Service_GetParameter: No valid Flash loaded"},
    {0x0531, "Service_SetParameter: Service-index out of bounds"},
    {0x053F, "Service_SetParameter: No valid Flash loaded"},
    {0x0541, "Service_Add: The radio service table is full"},
    {0x0542, "Service_Add: The TV service table is full"},
    {0x054F, "Service_Add: No valid Flash loaded"},
    {0x0551, "Service_Remove: Service-index out of bounds"},
    {0x055F, "Service_Remove: No valid Flash loaded"},
    {0x0561, "Service_Move: Service from-index out of bounds"},
    {0x0562, "Service_Move: Service to-index out of bounds"},
    {0x056E, "Service_Move: Function not yet supported"},
    {0x056F, "Service_Move: No valid Flash loaded"},
    // Timer table
    {0x0621, "Timer_GetParameter: Timer-index out of bounds"},
    {0x062F, "Timer_GetParameter: No valid Flash loaded"},
    {0x0631, "Timer_SetParameter: Timer-index out of bounds"},
    {0x0632, "Timer_SetParameter: Start time out of limit"},
    {0x0633, "Timer_SetParameter: End time out of limit"},
    {0x0634, "Timer_SetParameter: Tuner-index out of bounds"},
    {0x0636, "Timer_SetParameter: Service-index out of bounds"},
    {0x0637, "Timer_SetParameter: Added \".rec\" to the file name"},
    {0x0638, "Timer_SetParameter: File name too long: truncated"},
    {0x0639, "Timer_SetParameter: Service not available on selected tuner"},
    {0x063F, "Timer_SetParameter: No valid Flash loaded"},
    {0x0641, "Timer_Add: Start time out of limit"},
    {0x0642, "Timer_Add: End time out of limit"},
    {0x0643, "Timer_Add: Tuner-index out of bounds"},
    {0x0644, "Timer_Add: The timer table is full"},
    {0x0645, "Timer_Add: Service-index out of bounds"},
    {0x0646, "Timer_Add: Added \".rec\" to the file name"},
    {0x0647, "Timer_Add: File name too long: truncated"},
    {0x0648, "Service not available on selected tuner"},
    {0x064F, "Timer_Add: No valid Flash loaded"},
    {0x0651, "Timer_Remove: Timer-index out of bounds"},
    {0x065F, "Timer_Remove: No valid Flash loaded"},
    {0x066F, "Timer_CollisionDetect: No valid Flash loaded"},
    {0x0671, "Timer_Combine: Timer1-index out of bounds"},
    {0x0672, "Timer_Combine: Timer2-index out of bounds"},
    {0x0673, "Timer_Combine: Sat and/or service doesn't match"},
    {0x067F, "Timer_Combine: No valid Flash loaded"},
    // Favourite groups
    {0x0721, "Favourite_GetParameter: Favourite-Index out of bounds"},
    {0x072F, "Favourite_GetParameter: No valid Flash loaded"},
    {0x0731, "Favourite_SetParameter: Favourite-Index out of bounds"},
    {0x0732, "Favourite_SetParameter: Name too long: truncated"},
    {0x0733, "Favourite_SetParameter: NumberOfIndices out of bounds"},
    {0x073F, "Favourite_SetParameter: No valid Flash loaded"},
    {0x0741, "Favourite_Add: Too many groups defined"},
    {0x0742, "Favourite_Add: Name too long: truncated"},
    {0x0743, "Favourite_Add: NumberOfIndices out of bounds"},
    {0x074F, "Favourite_Add: No valid Flash loaded"},
    {0x0751, "Favourite_Remove: Favourite-Index out of bounds"},
    {0x075F, "Favourite_Remove: No valid Flash loaded"},
    {0x0761, "Favourite_Move: Actual-Index out of bounds"},
    {0x0762, "Favourite_Move: New-Index out of bounds"},
    {0x076F, "Favourite_Move: No valid Flash loaded"},
    {0x0771, "Favourite_AddService: Favourite-Index out of bounds"},
    {0x0772, "Favourite_AddService: Service-Index out of bounds"},
    {0x0773, "Favourite_AddService: Too many services defined"},
    {0x0774, "Favourite_AddService: Radio/TV mode mismatch"},
    {0x077F, "Favourite_AddService: No valid Flash loaded"},
    {0x0781, "Favourite_RemoveService: Favourite-Index out of bounds"},
    {0x0782, "Favourite_RemoveService: Service-Subindex out of bounds"},
    {0x078F, "Favourite_RemoveService: No valid Flash loaded"},
    {0x0791, "Favourite_MoveService: Favourite-Index out of bounds"},
    {0x0792, "Favourite_MoveService: ActualServiceSubindex out of bounds"},
    {0x0793, "Favourite_MoveService: NewServiceSubindex out of bounds"},
    {0x079F, "Favourite_MoveService: No valid Flash loaded"},
    // TFD files
    {0x0821, "TFD_Load: Invalid file header length"},
    {0x0822, "TFD_Load: Invalid file header CRC"},
    {0x0824, "TFD_Load: Failed to decompress a data block"},
    {0x0825, "TFD_Load: Invalid data CRC"},
    {0x0826, "TFD_Load: File does not exist"},
    {0x0827, "TFD_Load: Invalid block type"},
    {0x0828, "TFD_Load: Invalid block length"},
    {0x0829, "TFD_Load: Unexpected end of file"},
    {0x082A, "TFD_Load: The blocks are larger than 2 GB"},
    {0x082B, "TFD_Load: A block is larger than a receiver holds"},
    {0x0831, "TFD_BuildImage: The image does not fit the buffer"},
    {0x0832, "TFD_BuildImage: Too many blocks for one file"},
    {0x0841, "TFD_SaveToToppy: Failed to open serial port"},
    {0x0842, "TFD_SaveToToppy: Canceled while waiting for USB interface"},
    {0x0843, "TFD_SaveToToppy: Timeout while waiting or a response"},
    {0x0844, "TFD_SaveToToppy: Not sent: the receiver is of another model"},
    {0x0851, "TFD_SetBlock: The block is larger than 2 GB"},
    {0x0871, "TFD_GetBlock: The requested block has not been loaded"},
    {0x0872, "TFD_GetBlock: The destination buffer is too small"},
    // Receiver link
    {0x0911, "Comm_Open: Failed to open serial port"},
    {0x0912, "Comm_Open: Canceled while waiting for USB interface"},
    {0x0913, "Comm_Open: No USB interface found in time"},
    {0x0921, "Comm_SetupSerial: Device not opened"},
    {0x0922, "Comm_SetupSerial: Canceled while waiting for reply"},
    {0x0931, "Comm_Reboot: Device not opened"},
    {0x0932, "Comm_Reboot: Failed to send the reboot command"},
    {0x0941, "Comm_DownloadMode: Device not opened"},
    {0x0942, "Comm_DownloadMode: Canceled while waiting for reply"},
    {0x0943, "Comm_DownloadMode: Timeout while waiting or a response"},
    {0x0951, "Comm_UploadMode: Device not opened"},
    {0x0952, "Comm_UploadMode: Canceled while waiting for reply"},
    {0x0953, "Comm_UploadMode: Timeout while waiting or a response"},
    {0x0961, "Comm_TransferBlock: Device not opened"},
    {0x0962, "Comm_TransferBlock: Canceled while transfering data"},
    {0x0963, "Comm_TransferBlock: Timeout while waiting or a response"},
    {0x0964, "Comm_TransferBlock: Block too large for the receive buffer"},
    {0x0965, "Comm_TransferBlock: Invalid block data received"},
    {0x0966, "Comm_TransferBlock: Invalid data request from the receiver"},
    {0x0971, "Comm_End: Device not opened"},
    // Clock
    {0x0A0F, "Clock_GetParameter: No valid Flash loaded"},
    {0x0A1F, "Clock_SetParameter: No valid Flash loaded"},
};

constexpr bool IsStrictlyIncreasing() {
  for (size_t i = 1; i < std::size(kMessages); ++i)
    if (kMessages[i - 1].code >= kMessages[i].code) return false;
  return true;
}
static_assert(IsStrictlyIncreasing(), "result messages must stay sorted by code");

// Shared buffer of Result_GetText: holds the last message, zero-terminated.
thread_local char resultText[kResultTextSize];

}  // namespace

std::span<const ResultMessage> Result_Table() { return kMessages; }

std::string Result_Text(int32_t code) {
  const auto* found =
      std::lower_bound(std::begin(kMessages), std::end(kMessages), code,
                       [](const ResultMessage& entry, int32_t value) { return entry.code < value; });
  if (found != std::end(kMessages) && found->code == code) return found->text;
  // Upper-case hexadecimal, at least four digits; a negative code shows all
  // eight digits of its two's complement.
  char text[32];
  std::snprintf(text, sizeof text, "Unknown Code $%4.4X", static_cast<unsigned>(static_cast<uint32_t>(code)));
  return text;
}

const char* Result_GetText(int32_t code) {
  const std::string text = Result_Text(code);
  std::memset(resultText, 0, sizeof resultText);
  std::memcpy(resultText, text.data(), std::min(text.size(), sizeof resultText - 1));
  return resultText;
}

}  // namespace tolv
