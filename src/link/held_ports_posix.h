// The serial ports the link holds exclusively (POSIX): noted when the mark is
// set, taken out before the port is closed, released all at once by a hard
// stop (link/hard_stop.h). The list is a handful of lock-free slots, so that a
// signal handler may read and empty it at any moment.
#pragma once

namespace tolv {

// Slots of the list: more ports than this held at once are not noted (the
// link holds one).
inline constexpr int kMaxHeldPorts = 8;

// Notes the descriptor fd of a port that has just been marked exclusive.
// False when every slot is taken (fd is then not released by a hard stop).
bool HeldPorts_Add(int fd);

// Takes fd out of the list; call it after clearing the port's mark and before
// closing fd, so that a hard stop in between neither skips the port nor
// closes a descriptor number that has been reused. Nothing when fd is not
// noted.
void HeldPorts_Remove(int fd);

}  // namespace tolv
