// Interruption of a run: the handler of SIGTERM and SIGINT, installed by the program entry. It
// does what is safe in a signal handler and nothing more: it stores the signal's number.
#include "framework/core/run_interrupt.h"

volatile std::sig_atomic_t interrupt_signal = 0;

namespace {

extern "C" void note_interrupt(int signal) {
  interrupt_signal = signal;
}

}  // namespace

void install_interrupt_handlers() {
  struct sigaction action {};
  action.sa_handler = note_interrupt;
  sigemptyset(&action.sa_mask);
  // A write in progress goes on after the handler; the second signal takes the default.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}
