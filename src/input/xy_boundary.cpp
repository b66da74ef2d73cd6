// XY boundary inputs: the readers called at the XYBDYINPUT_* project cards while the project
// file is read. This version of the model does not read XY boundary tables yet: each reader
// says so and leaves the XY inputs empty, so the run goes on without them.
#include "input/xy_boundary.h"

#include <cstdio>

namespace {

void report_unsupported(const char* file_name) {
  printf("Warning: XY boundary inputs are not supported yet; card ignored: %s\n",
         file_name != nullptr ? file_name : "");
}

}  // namespace

void read_xy_bdy_file(xy_input&, const char* file_name, const char*, const char*, time_series*&,
                      guarded_array<xy_point>&, int&) {
  report_unsupported(file_name);
}

void read_xy_stream_bdy_file(xy_input&, const char* file_name) {
  report_unsupported(file_name);
}

void read_xy_stream_ts_file(xy_input&, const char* file_name) {
  report_unsupported(file_name);
}
