// The torva executable: everything happens in the run framework's entry.
#include "run/entry.h"

int main(int argc, char** argv) {
  return torva_main(argc, argv);
}
