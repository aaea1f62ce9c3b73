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

// For a program that is no command line (the window): from now on, the
// requests to end the program (POSIX systems: SIGINT, SIGTERM, SIGHUP) end
// it as they did before (through the handler there was, or the default
// action), but first remove the temporary files of a save being written; a
// save that is replacing files finishes first, and the request takes effect
// right after. Call once, after other handlers of these signals are in
// place. Nothing on Windows, where a window is not ended by signals.
void Saves_CleanUpBeforeEnding();

}  // namespace tolv
