// Calibration parameter replacement. The replacement list is not built yet: no tag is replaced
// and the reports are empty.
#include "input/replacement.h"

#include "framework/file_handle.h"

int replace_active = 0;
int replace_line_index = 0;

void replace_line_params(std::string&) {}
void print_replace_values(file_handle&) {}
void print_replace_usage(file_handle&) {}
int read_replace_params(const char*) { return -1; }
int read_replace_vals(const char*) { return -1; }
