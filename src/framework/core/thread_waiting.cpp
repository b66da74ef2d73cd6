// The program's own waiting policy for the threads of its parallel loops: main calls
// bound_thread_waiting before anything else, which restarts the program once with a bounded
// spin count when the environment gives no waiting policy.
#include "framework/core/thread_waiting.h"

#include <unistd.h>

#include <cstdlib>

void bound_thread_waiting(char** argv) {
  if (argv == nullptr || argv[0] == nullptr) return;
  if (std::getenv("OMP_WAIT_POLICY") != nullptr || std::getenv("GOMP_SPINCOUNT") != nullptr) return;
  if (setenv("GOMP_SPINCOUNT", bounded_spin_count, 1) != 0) return;
  execv("/proc/self/exe", argv);
  // Not started again: the runtime keeps the waiting it read at load time, and the variable is
  // taken back so that nothing else sees a bound that is not in force.
  unsetenv("GOMP_SPINCOUNT");
}
