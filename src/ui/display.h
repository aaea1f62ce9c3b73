// Whether the window can be shown at all: a display the toolkit can reach.
// One implementation per platform.
#pragma once

namespace tolv {

// False when the program runs where no window can be shown (a console
// session without a display); then it says so instead of failing.
bool DisplayAvailable();

}  // namespace tolv
