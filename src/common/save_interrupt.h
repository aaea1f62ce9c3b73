// Ctrl-C and the requests to end the program while files are being saved.
// One implementation file per platform (save_interrupt_posix.cpp,
// save_interrupt_windows.cpp).
#pragma once

namespace tolv {

// While one lives, Ctrl-C and the requests to end the program (POSIX
// systems: SIGINT, SIGTERM, SIGHUP; Windows: Ctrl-C, Ctrl-Break, closing the
// console) cancel the saves (Saves_Cancel, common/file_io.h) instead of
// ending the program at once: a save being written removes its temporary
// files and throws SaveCanceled, one that is already replacing files
// finishes, and the program goes on to say so and end in its own way. A
// second request ends the program at once, its temporary files removed,
// unless a save is replacing files: that one finishes first. (Closing the
// console on Windows always ends the program, after that.) Guards nest:
// the outermost one clears an earlier cancel and installs the handlers;
// its end restores the handlers there were before and lets saves run again.
class SaveInterruptGuard {
 public:
  SaveInterruptGuard();
  ~SaveInterruptGuard();
  SaveInterruptGuard(const SaveInterruptGuard&) = delete;
  SaveInterruptGuard& operator=(const SaveInterruptGuard&) = delete;

  // Whether a request came since the outermost guard began (asked while a
  // guard lives).
  static bool Requested();
};

}  // namespace tolv
