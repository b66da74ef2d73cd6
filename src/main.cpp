// The torva executable: everything happens in the run framework's entry.
#include <cstdio>
#include <string>

#include "framework/core/vector_targets.h"
#include "run/entry.h"

int main(int argc, char** argv) {
  std::string message;
  if (!use_vector_target_from_environment(message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
  }
  return torva_main(argc, argv);
}
