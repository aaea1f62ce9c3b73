// Serial ports released on a hard stop of the program.
//
// While the link holds a serial port, the port is marked for exclusive use,
// so that no other program can open it meanwhile. On POSIX systems that mark
// (TIOCEXCL) belongs to the terminal, not to the descriptor: a real port
// loses it when its last descriptor closes, but a pseudo-terminal keeps it for
// as long as its other side is open. A program ended by a signal, with the
// link still holding the port, would leave it unusable until the emulator on
// the other side restarts; every later open fails. So every way out of the
// program that can still run code first clears the mark and closes the port.
// On Windows the system closes the handle, and with it the exclusive use, when
// the process ends; these functions do nothing there.
#pragma once

namespace tolv {

// Installs, for the rest of the process, a handler for every signal whose
// default action ends the program and that is not ignored now (SIGHUP, SIGINT,
// SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, the resource limits,
// and the crashes SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS).
// The handler releases the held ports (Link_ReleaseHeldPorts) and then ends
// the program by the same signal with its default action, so the exit status
// is what it would have been. A signal that is ignored (e.g. SIGHUP under
// nohup) or handled by the program keeps its disposition. Call it early in
// main, before the program handles signals of its own; calling it again does
// nothing.
void Link_ReleasePortsOnHardStop();

// Clears the exclusive mark of every serial port the link holds open and
// closes it. Async-signal-safe (plain system calls on descriptors noted in
// lock-free slots): for a program's own signal handler that is about to end
// the program, such as the one of a second Ctrl-C. The link must not use the
// ports afterwards; the program is expected to end.
void Link_ReleaseHeldPorts();

}  // namespace tolv
