// The console of a run: progress and start-up lines go through log_printf, which the quiet card
// (SUPER_QUIET) silences for the whole process.
#pragma once

extern bool console_silent;  // SUPER_QUIET: log_printf prints nothing

// printf to standard output unless console_silent is set; returns the characters written.
int log_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
