// The console of a run: log_printf prints to standard output unless the quiet card has
// silenced it. Readers and steps of every layer print their start-up and progress lines here.
#include "framework/core/console.h"

#include <cstdarg>
#include <cstdio>

bool console_silent = false;

int log_printf(const char* format, ...) {
  if (console_silent) return 0;
  va_list args;
  va_start(args, format);
  const int written = vprintf(format, args);
  va_end(args);
  return written;
}
