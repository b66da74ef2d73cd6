// The event runoff summary appended to the summary file at the end of every event, and the
// aligned line of the constituent sections.
#pragma once

#include <cstdio>

struct model_state;

// Label, one blank, a fill leader up to column characters, then the value formatted with
// format, placed so that its decimal point stands at column + point + 2 (counting from 1), and
// extra_newlines + 1 newlines. A value text without a point is aligned on its end.
void summary_print_line(FILE* fp, const char* label, double value, int column, char fill, int point,
                        const char* format, int extra_newlines);

// Writes the whole event summary of the event just closed to the summary file.
void write_event_summary(model_state& ms);
