// What differs between the terminals of the platforms, besides Ctrl-C and
// StderrIsTerminal (transfer_console.h). One implementation file per
// platform (console_posix.cpp, console_windows.cpp).
#pragma once

#include <string>

namespace tolv::cli {

// A command's help text as this system's users need it: the serial port in
// its examples is one of this system's (/dev/ttyUSB0, COM3).
std::string LocalHelpText(const char* help);

// Where the model list is looked for, for "tolv --help": one or more lines
// without the last line break, as ModelList_SearchPath() searches here.
const char* ModelListPlacesText();

}  // namespace tolv::cli
