// On X11 and Wayland systems the window needs the display named by DISPLAY
// or WAYLAND_DISPLAY (or a platform chosen explicitly for the toolkit).
#include <cstdlib>

#include "ui/display.h"

namespace tolv {
namespace {

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

bool DisplayAvailable() { return Set("QT_QPA_PLATFORM") || Set("DISPLAY") || Set("WAYLAND_DISPLAY"); }

}  // namespace tolv
