// The torva executable: the threads' waiting policy is settled first (the program may start
// itself again for it), then the vector instruction set and the
// threads' least share of cells a user asked for, then everything
// happens in the run framework's entry.
#include <cstdio>
#include <string>

#include "framework/core/process_info.h"
#include "framework/core/thread_waiting.h"
#include "framework/core/vector_targets.h"
#include "run/entry.h"

int main(int argc, char** argv) {
  bound_thread_waiting(argv);
  std::string message;
  if (!use_vector_target_from_environment(message) ||
      !cells_per_thread_from_environment(process_info, message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
  }
  return torva_main(argc, argv);
}
