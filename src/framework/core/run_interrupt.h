// Interruption of a run by the operating system: SIGTERM and SIGINT set a flag that the run
// driver reads after each step of the time loop, so that the step's outputs are finished on whole
// lines and frames before the run stops and says so.
#pragma once

#include <csignal>

// The number of the interrupting signal received, or 0. Written only by the signal handler.
extern volatile std::sig_atomic_t interrupt_signal;

// Installs the handler of SIGTERM and SIGINT for the program: the first signal only sets
// interrupt_signal; a second one ends the process at once, as the default would.
void install_interrupt_handlers();

// The exit status of a process ended by `signal` by convention: 128 + its number.
inline int interrupted_exit_status(int signal) {
  return 128 + signal;
}
