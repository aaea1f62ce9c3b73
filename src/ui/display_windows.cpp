// Windows always has its desktop: nothing in the environment says otherwise.
#include "ui/display.h"

namespace tolv {

bool DisplayAvailable() { return true; }

}  // namespace tolv
