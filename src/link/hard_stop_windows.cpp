// Releasing the held serial ports on a hard stop, Windows: the system closes
// a port's handle, and ends its exclusive use, when the process ends, however
// it ends. Nothing to do.

#include "link/hard_stop.h"

namespace tolv {

void Link_ReleasePortsOnHardStop() {}

void Link_ReleaseHeldPorts() {}

}  // namespace tolv
