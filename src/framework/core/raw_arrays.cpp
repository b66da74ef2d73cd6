// Allocators of the raw one-based arrays with their size and failure messages: the per-cell,
// per-link and per-node arrays, the lake search array and the stream tables that the start-up
// readers and set-up steps allocate once for the run.
#include "framework/core/raw_arrays.h"

#include <algorithm>
#include <climits>
#include <cstdio>

void raw_report_size_zero() {
  printf("Error: Attempting to allocate array of size 0\n");
}

void raw_report_alloc_failure(const char* name) {
  printf("Error allocating memory for variable %s\n", name != nullptr ? name : "");
}

void struct_alloc_report_failure() {
  printf("Problem allocating memory for array of structures in struct_alloc.\n");
}

namespace {

template <class T>
raw_array2d<T> alloc_2d_checked(int nr, int nc) {
  raw_array2d<T> array;
  if (nr <= 0 || nc <= 0) {
    raw_report_size_zero();
    return array;
  }
  array.allocate(nr, nc);
  return array;
}

template <class T>
raw_array2d<T> alloc_2d_named(int nr, int nc, const char* name) {
  raw_array2d<T> array = alloc_2d_checked<T>(nr, nc);
  if (array.empty()) raw_report_alloc_failure(name);
  return array;
}

}  // namespace

raw_array2d<double> raw_alloc_2d_double(int nr, int nc) {
  return alloc_2d_checked<double>(nr, nc);
}
raw_array2d<int> raw_alloc_2d_int(int nr, int nc) {
  return alloc_2d_checked<int>(nr, nc);
}
raw_array2d<char> raw_alloc_2d_char(int nr, int nc) {
  return alloc_2d_checked<char>(nr, nc);
}

raw_array3d<double> raw_alloc_3d_double(int np, int nr, int nc) {
  raw_array3d<double> array;
  if (np <= 0 || nr <= 0 || nc <= 0) {
    raw_report_size_zero();
    return array;
  }
  array.allocate(np, nr, nc);
  return array;
}

raw_array3d<int> raw_alloc_3d_int4(int n, int m) {
  raw_array3d<int> array;
  if (n <= 0 || m <= 0) {
    raw_report_size_zero();
    return array;
  }
  array.allocate(n, 3, m);
  return array;
}

void alloc_1d_int(raw_array1d<int>& out, int n, const char* name) {
  out.reset();
  if (n == 0) return;
  if (n < 0) {
    raw_report_size_zero();
    raw_report_alloc_failure(name);
    return;
  }
  if (!out.allocate(n)) raw_report_alloc_failure(name);
}

void alloc_2d_double_named(int nr, int nc, raw_array2d<double>& out, const char* name) {
  out = alloc_2d_named<double>(nr, nc, name);
}

void alloc_2d_int_named(raw_array2d<int>& out, int nr, int nc, const char* name) {
  out = alloc_2d_named<int>(nr, nc, name);
}

void alloc_2d_char_named(int nr, int nc, raw_array2d<char>& out, const char* name) {
  out = alloc_2d_named<char>(nr, nc, name);
}

void alloc_3d_double_named(int np, int nr, int nc, raw_array3d<double>& out, const char* name) {
  out = raw_alloc_3d_double(np, nr, nc);
  if (out.empty()) raw_report_alloc_failure(name);
}

void alloc_lake_search(int n, int m, raw_array3d<int>& out) {
  out = raw_alloc_3d_int4(n, m);
  if (out.empty()) raw_report_alloc_failure("lake_search");
}

void alloc_stream_pointsource(raw_array2d<double>& out, int n, int m) {
  out.reset();
  if (n < 0 || m <= 0) {
    raw_report_size_zero();
    raw_report_alloc_failure("stream_pointsource");
    return;
  }
  if (n == INT_MAX || !out.allocate(n + 1, m)) raw_report_alloc_failure("stream_pointsource");
}

void alloc_stream_pumps(raw_array2d<double>& out, int n, int m) {
  out.reset();
  if (n <= 0 || m <= 0) {
    raw_report_size_zero();
    raw_report_alloc_failure("stream_pumps");
    return;
  }
  if (!out.allocate(n, m)) raw_report_alloc_failure("stream_pumps");
}

raw_array2d<double> alloc_ptr_rows_zero(int n, int m) {
  raw_array2d<double> table;
  if (n < 0 || m < 0) {
    raw_report_size_zero();
    return table;
  }
  table.allocate(n, m);
  return table;
}

void fill_2d_double(raw_array2d<double>& array, int nr, int nc, double value) {
  if (array.empty()) return;
  const int rows = std::min(nr, array.row_count());
  const int cols = std::min(nc, array.col_count());
  for (int i = 0; i <= rows; ++i) {
    double* row = array[i];
    for (int j = 0; j <= cols; ++j) row[j] = value;
  }
}

void fill_3d_double(raw_array3d<double>& array, int np, int nr, int nc, double value) {
  if (array.empty()) return;
  const int planes = std::min(np, array.plane_count());
  const int rows = std::min(nr, array.row_count());
  const int cols = std::min(nc, array.col_count());
  for (int p = 0; p <= planes; ++p) {
    for (int r = 0; r <= rows; ++r) {
      double* row = array[p][r];
      for (int c = 0; c <= cols; ++c) row[c] = value;
    }
  }
}
