// Ctrl+C and polite ends from outside, for the commands that write long
// files: caught, so that each command ends in its own way (keeping or
// removing what it has made) rather than by the default action mid-write.
#pragma once
#include <csignal>
#include <string>

// Catches the stop signals from now on; on POSIX a child gone from a pipe is
// then told by a failed write, not by SIGPIPE.
void catchStopSignals();
// Where the signal that asked to stop is kept: 0 until one arrives.
const volatile std::sig_atomic_t* stopSignal();
// What stopped it: "signal 2 (Interrupt)", on Windows the key that sent it,
// or, with inputEnded, the end of its input.
std::string signalText(int signal, bool inputEnded = false);
