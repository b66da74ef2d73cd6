// Messages of the self-checking arrays, the hand-over of open files between elements of an
// array of handles, and the three-dimensional array of planes (the constituent x cell x layer
// tables built by the transport set-up and released with the model state).
#include "framework/core/guarded_array.h"

#include <cstdio>
#include <cstring>

void guarded_array_report_bad_pointers(const char* array_name) {
  printf("\n\nError!! Bad pointers found in array %s.\n\n", array_name);
}

void guarded_array_report_bad_range(const char* array_name) {
  printf("Error: bad range addressed in array %s\n", array_name);
}

void guarded_array2d_report_bad_pointers() {
  printf("\n\nError!! Bad pointers found in 2D array.\n\n");
}

void guarded_element_transfer(file_handle& to, file_handle& from) {
  if (&to == &from) return;
  file_handle_release(to);
  to.fp = from.fp;
  to.fp_check = from.fp_check;
  std::memcpy(to.path, from.path, sizeof to.path);
  std::memcpy(to.mode, from.mode, sizeof to.mode);
  from.fp = nullptr;
  from.fp_check = nullptr;
  from.path[0] = '\0';
  from.mode[0] = '\0';
}

guarded_array<file_handle>& file_array_assign(guarded_array<file_handle>& destination,
                                              guarded_array<file_handle>& source) {
  if (&destination == &source || destination.empty() || source.empty()) return destination;
  const int last = std::min(destination.upper(), source.upper());
  for (int i = 1; i <= last; ++i) guarded_element_transfer(destination[i], source[i]);
  return destination;
}

namespace {

// One owned plane: a table of rows + 1 row pointers into one block of (rows + 1) x (cols + 1)
// doubles, elements [1..rows][1..cols] set to value and the index-0 row and column to 0. Entry 0
// of the table points at the start of the block, which is how the plane is freed.
double** alloc_plane_fill(int rows, int cols, double value) {
  const std::size_t stride = static_cast<std::size_t>(cols) + 1;
  double** table = new double*[static_cast<std::size_t>(rows) + 1];
  double* block = new double[(static_cast<std::size_t>(rows) + 1) * stride]();
  for (int r = 0; r <= rows; ++r) table[r] = block + r * stride;
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= cols; ++c) table[r][c] = value;
  return table;
}

void free_plane(double** plane) {
  delete[] plane[0];
  delete[] plane;
}

}  // namespace

void guarded_array3d::set_name(const char* name) noexcept {
  std::size_t k = 0;
  for (; name != nullptr && name[k] != '\0' && k + 1 < sizeof array_name_; ++k)
    array_name_[k] = name[k];
  array_name_[k] = '\0';
}

bool guarded_array3d::check(bool owned_only) const {
  bool intact = plane_rows_alias_ == plane_rows_ && plane_count_alias_ == plane_count_ &&
                plane_table_alias_ == table_ptr();
  if (intact && plane_count_alias_ >= 1) {
    const std::size_t entries = static_cast<std::size_t>(plane_count_alias_) + 1;
    intact = plane_copy_.size() == entries && plane_table_.size() == entries &&
             plane_row_copies_.size() == entries &&
             std::equal(plane_copy_.begin(), plane_copy_.end(), plane_table_.begin());
    if (intact && plane_rows_alias_ >= 1) {
      for (int p = 1; p <= plane_count_alias_ && intact; ++p) {
        if (owned_only && plane_owned_[p] == 0) continue;
        const double* const* rows = plane_table_[p];
        const std::vector<double*>& copy = plane_row_copies_[p];
        if (rows == nullptr) {
          intact = copy.empty();
          continue;
        }
        intact = copy.size() == static_cast<std::size_t>(plane_rows_alias_) + 1 &&
                 std::equal(copy.begin(), copy.end(), rows);
      }
    }
  }
  if (!intact) printf("\n\nError!!!  Bad pointers found in 3D array.\n\n");
  return intact;
}

void guarded_array3d::snapshot() {
  plane_table_alias_ = table_ptr();
  plane_copy_.clear();
  plane_row_copies_.clear();
  if (plane_count_ > 0) {
    plane_copy_.assign(plane_table_.begin(), plane_table_.end());
    plane_row_copies_.resize(static_cast<std::size_t>(plane_count_) + 1);
    for (int p = 1; p <= plane_count_; ++p) {
      double** rows = plane_table_[p];
      if (rows != nullptr) plane_row_copies_[p].assign(rows, rows + plane_rows_ + 1);
    }
  }
  plane_count_alias_ = plane_count_;
  plane_rows_alias_ = plane_rows_;
}

bool guarded_array3d::append_planes(int n, double** const* planes, int rows, int cols) {
  return add_planes(planes == nullptr ? 0 : n, planes, 0.0, rows, cols);
}

bool guarded_array3d::add_planes_fill(int n, double value, int rows, int cols) {
  return add_planes(n, nullptr, value, rows, cols);
}

bool guarded_array3d::add_planes(int n, double** const* planes, double value, int rows, int cols) {
  if (!check(false)) return false;
  // Every plane shares one shape: with planes present a different shape is refused, since the
  // checks and the release read plane_rows() row pointers of every plane.
  if (plane_count_ > 0 &&
      ((rows >= 0 && rows != plane_rows_) || (cols >= 0 && cols != plane_cols_)))
    return false;
  const int add = std::max(n, 0);
  if (add > INT_MAX - 1 - plane_count_) return false;
  if (rows >= 0) plane_rows_ = rows;
  if (cols >= 0) plane_cols_ = cols;
  const int total = plane_count_ + add;
  std::vector<double**> table(static_cast<std::size_t>(total) + 1, nullptr);
  std::vector<unsigned char> owned(static_cast<std::size_t>(total) + 1, 0);
  for (int p = 1; p <= plane_count_; ++p) {
    table[p] = plane_table_[p];
    owned[p] = plane_owned_[p];
  }
  for (int k = 1; k <= add; ++k) {
    if (planes != nullptr) {
      table[plane_count_ + k] = planes[k];
    } else {
      table[plane_count_ + k] = alloc_plane_fill(plane_rows_, plane_cols_, value);
      owned[plane_count_ + k] = 1;
    }
  }
  plane_table_ = std::move(table);
  plane_owned_ = std::move(owned);
  plane_count_ = total;
  snapshot();
  return true;
}

void guarded_array3d::release() {
  if (!check(true)) return;
  for (int p = 1; p <= plane_count_; ++p)
    if (plane_owned_[p] != 0) free_plane(plane_table_[p]);
  plane_table_ = {};
  plane_owned_ = {};
  plane_copy_ = {};
  plane_row_copies_ = {};
  plane_count_ = plane_rows_ = plane_cols_ = 0;
  plane_count_alias_ = plane_rows_alias_ = 0;
  plane_table_alias_ = nullptr;
}
