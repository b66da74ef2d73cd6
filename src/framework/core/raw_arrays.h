// Raw one-based arrays of the model: the per-cell, per-link, per-node and per-grid-row arrays
// of one, two and three dimensions, with a spare element in every dimension, zero-filled and
// released by their owner. The start-up readers and set-up steps allocate them once; every step
// of the time loop reads them as depth[cell], map[row][col] or mass[p][row][col].
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

namespace raw_array_detail {

// Element types the raw arrays hold: plain values that live in zeroed memory from calloc.
template <class T>
inline constexpr bool raw_element =
    std::is_trivially_copyable_v<T>&& std::is_trivially_default_constructible_v<T> &&
    alignof(T) <= alignof(std::max_align_t);

// a * b into out; false when the product does not fit in a size_t.
inline bool mul_size(std::size_t a, std::size_t b, std::size_t& out) {
  return !__builtin_mul_overflow(a, b, &out);
}

// Zeroed storage for `count` elements of T, or null when the byte count does not fit or the
// memory cannot be had. The byte count is checked here so that calloc never sees an overflow.
template <class T>
T* alloc_zeroed(std::size_t count) {
  std::size_t bytes = 0;
  if (!mul_size(count, sizeof(T), bytes)) return nullptr;
  return static_cast<T*>(std::calloc(count, sizeof(T)));
}

}  // namespace raw_array_detail

// Prints "Error: Attempting to allocate array of size 0\n".
void raw_report_size_zero();
// Prints "Error allocating memory for variable %s\n" with the array's name.
void raw_report_alloc_failure(const char* name);

// One-dimensional array of n + 1 elements, indexes 0 to n (index 0 holds no data).
template <class T>
class raw_array1d {
  static_assert(raw_array_detail::raw_element<T>, "raw arrays hold plain values");

 public:
  raw_array1d() = default;
  raw_array1d(const raw_array1d&) = delete;
  raw_array1d& operator=(const raw_array1d&) = delete;
  raw_array1d(raw_array1d&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), count_(std::exchange(other.count_, 0)) {}
  raw_array1d& operator=(raw_array1d&& other) noexcept {
    if (this != &other) {
      reset();
      data_ = std::exchange(other.data_, nullptr);
      count_ = std::exchange(other.count_, 0);
    }
    return *this;
  }
  ~raw_array1d() { std::free(data_); }

  // Replaces the array by n + 1 zeroed elements. Prints nothing; false (and empty) when n is
  // negative or the memory cannot be had.
  bool allocate(int n) {
    reset();
    if (n < 0) return false;
    data_ = raw_array_detail::alloc_zeroed<T>(static_cast<std::size_t>(n) + 1);
    if (data_ == nullptr) return false;
    count_ = n;
    return true;
  }
  // Releases the array; the owner is empty afterwards.
  void reset() noexcept {
    std::free(data_);
    data_ = nullptr;
    count_ = 0;
  }
  T& operator[](std::ptrdiff_t i) noexcept {
    assert(data_ != nullptr && i >= 0 && i <= count_);
    return data_[i];
  }
  const T& operator[](std::ptrdiff_t i) const noexcept {
    assert(data_ != nullptr && i >= 0 && i <= count_);
    return data_[i];
  }

  T* data() noexcept { return data_; }  // element 0; elements 0..count() follow
  const T* data() const noexcept { return data_; }
  int count() const noexcept { return count_; }  // highest index
  std::size_t element_count() const noexcept {   // count() + 1, or 0 when empty
    return data_ == nullptr ? 0 : static_cast<std::size_t>(count_) + 1;
  }
  bool empty() const noexcept { return data_ == nullptr; }
  explicit operator bool() const noexcept { return data_ != nullptr; }

 private:
  T* data_ = nullptr;
  int count_ = 0;
};

// True when the array is allocated and i lies in 1..count: element i may be read.
template <class T>
bool has(const raw_array1d<T>& a, int i) {
  return !a.empty() && i >= 1 && i <= a.count();
}

// True when the array holds elements 1..n (every array holds none when n <= 0).
template <class T>
bool holds(const raw_array1d<T>& a, int n) {
  return n <= 0 || (!a.empty() && a.count() >= n);
}

// Two-dimensional array of (nr + 1) x (nc + 1) elements in one contiguous block, row by row,
// with a table of nr + 1 row pointers into it for code that takes a table of rows.
template <class T>
class raw_array2d {
  static_assert(raw_array_detail::raw_element<T>, "raw arrays hold plain values");

 public:
  raw_array2d() = default;
  raw_array2d(const raw_array2d&) = delete;
  raw_array2d& operator=(const raw_array2d&) = delete;
  raw_array2d(raw_array2d&& other) noexcept { take(other); }
  raw_array2d& operator=(raw_array2d&& other) noexcept {
    if (this != &other) {
      reset();
      take(other);
    }
    return *this;
  }
  ~raw_array2d() { reset(); }

  // Replaces the array by a zeroed nr x nc array (indexes 0..nr, 0..nc). Prints nothing; false
  // (and empty) when a dimension is negative or the memory cannot be had.
  bool allocate(int nr, int nc) {
    reset();
    if (nr < 0 || nc < 0) return false;
    const std::size_t rows = static_cast<std::size_t>(nr) + 1;
    const std::size_t cols = static_cast<std::size_t>(nc) + 1;
    std::size_t total = 0;
    if (!raw_array_detail::mul_size(rows, cols, total)) return false;
    T* block = raw_array_detail::alloc_zeroed<T>(total);
    if (block == nullptr) return false;
    T** table = raw_array_detail::alloc_zeroed<T*>(rows);
    if (table == nullptr) {
      std::free(block);
      return false;
    }
    for (std::size_t i = 0; i < rows; ++i) table[i] = block + i * cols;
    block_ = block;
    table_ = table;
    nr_ = nr;
    nc_ = nc;
    stride_ = static_cast<std::ptrdiff_t>(cols);
    return true;
  }
  void reset() noexcept {
    std::free(block_);
    std::free(table_);
    block_ = nullptr;
    table_ = nullptr;
    nr_ = nc_ = 0;
    stride_ = 0;
  }
  // Row i: map[row][col].
  T* operator[](std::ptrdiff_t i) noexcept {
    assert(block_ != nullptr && i >= 0 && i <= nr_);
    return block_ + i * stride_;
  }
  const T* operator[](std::ptrdiff_t i) const noexcept {
    assert(block_ != nullptr && i >= 0 && i <= nr_);
    return block_ + i * stride_;
  }

  T** row_table() noexcept { return table_; }  // row pointers 0..row_count()
  T* data() noexcept { return block_; }        // the block, row by row
  const T* data() const noexcept { return block_; }
  int row_count() const noexcept { return nr_; }  // highest row index
  int col_count() const noexcept { return nc_; }  // highest column index
  std::size_t element_count() const noexcept {
    return block_ == nullptr ? 0 : (static_cast<std::size_t>(nr_) + 1) * stride_;
  }
  bool empty() const noexcept { return block_ == nullptr; }
  explicit operator bool() const noexcept { return block_ != nullptr; }

 private:
  void take(raw_array2d& other) noexcept {
    block_ = std::exchange(other.block_, nullptr);
    table_ = std::exchange(other.table_, nullptr);
    nr_ = std::exchange(other.nr_, 0);
    nc_ = std::exchange(other.nc_, 0);
    stride_ = std::exchange(other.stride_, 0);
  }

  T* block_ = nullptr;
  T** table_ = nullptr;
  int nr_ = 0;
  int nc_ = 0;
  std::ptrdiff_t stride_ = 0;
};

// Three-dimensional array of (np + 1) x (nr + 1) x (nc + 1) elements in one contiguous block,
// plane by plane and row by row, with a plane table of np + 1 pointers into a block of
// (np + 1) x (nr + 1) row pointers, for code that takes a table of planes.
template <class T>
class raw_array3d {
  static_assert(raw_array_detail::raw_element<T>, "raw arrays hold plain values");

 public:
  // One plane of the array: plane[row][col].
  template <class E>
  struct plane_ref {
    E* base;
    std::ptrdiff_t stride;
    E* operator[](std::ptrdiff_t r) const noexcept { return base + r * stride; }
  };

  raw_array3d() = default;
  raw_array3d(const raw_array3d&) = delete;
  raw_array3d& operator=(const raw_array3d&) = delete;
  raw_array3d(raw_array3d&& other) noexcept { take(other); }
  raw_array3d& operator=(raw_array3d&& other) noexcept {
    if (this != &other) {
      reset();
      take(other);
    }
    return *this;
  }
  ~raw_array3d() { reset(); }

  // Replaces the array by a zeroed np x nr x nc array. Prints nothing; false (and empty) when a
  // dimension is negative or the memory cannot be had.
  bool allocate(int np, int nr, int nc) {
    reset();
    if (np < 0 || nr < 0 || nc < 0) return false;
    const std::size_t planes = static_cast<std::size_t>(np) + 1;
    const std::size_t rows = static_cast<std::size_t>(nr) + 1;
    const std::size_t cols = static_cast<std::size_t>(nc) + 1;
    std::size_t all_rows = 0;
    std::size_t total = 0;
    if (!raw_array_detail::mul_size(planes, rows, all_rows) ||
        !raw_array_detail::mul_size(all_rows, cols, total))
      return false;
    T*** plane_table = raw_array_detail::alloc_zeroed<T**>(planes);
    T** row_block = plane_table == nullptr ? nullptr : raw_array_detail::alloc_zeroed<T*>(all_rows);
    T* block = row_block == nullptr ? nullptr : raw_array_detail::alloc_zeroed<T>(total);
    if (block == nullptr) {
      std::free(row_block);
      std::free(plane_table);
      return false;
    }
    for (std::size_t p = 0; p < planes; ++p) plane_table[p] = row_block + p * rows;
    for (std::size_t r = 0; r < all_rows; ++r) row_block[r] = block + r * cols;
    planes_ = plane_table;
    rows_ = row_block;
    block_ = block;
    np_ = np;
    nr_ = nr;
    nc_ = nc;
    row_stride_ = static_cast<std::ptrdiff_t>(cols);
    plane_stride_ = static_cast<std::ptrdiff_t>(rows * cols);
    return true;
  }
  void reset() noexcept {
    std::free(block_);
    std::free(rows_);
    std::free(planes_);
    block_ = nullptr;
    rows_ = nullptr;
    planes_ = nullptr;
    np_ = nr_ = nc_ = 0;
    row_stride_ = plane_stride_ = 0;
  }
  // Plane p: mass[p][row][col].
  plane_ref<T> operator[](std::ptrdiff_t p) noexcept {
    assert(block_ != nullptr && p >= 0 && p <= np_);
    return {block_ + p * plane_stride_, row_stride_};
  }
  plane_ref<const T> operator[](std::ptrdiff_t p) const noexcept {
    assert(block_ != nullptr && p >= 0 && p <= np_);
    return {block_ + p * plane_stride_, row_stride_};
  }

  T*** plane_table() noexcept { return planes_; }  // plane pointers 0..plane_count()
  T* data() noexcept { return block_; }            // the block, plane by plane and row by row
  const T* data() const noexcept { return block_; }
  int plane_count() const noexcept { return np_; }  // highest plane index
  int row_count() const noexcept { return nr_; }    // highest row index
  int col_count() const noexcept { return nc_; }    // highest column index
  std::size_t element_count() const noexcept {
    return block_ == nullptr ? 0 : (static_cast<std::size_t>(np_) + 1) * plane_stride_;
  }
  bool empty() const noexcept { return block_ == nullptr; }
  explicit operator bool() const noexcept { return block_ != nullptr; }

 private:
  void take(raw_array3d& other) noexcept {
    block_ = std::exchange(other.block_, nullptr);
    rows_ = std::exchange(other.rows_, nullptr);
    planes_ = std::exchange(other.planes_, nullptr);
    np_ = std::exchange(other.np_, 0);
    nr_ = std::exchange(other.nr_, 0);
    nc_ = std::exchange(other.nc_, 0);
    row_stride_ = std::exchange(other.row_stride_, 0);
    plane_stride_ = std::exchange(other.plane_stride_, 0);
  }

  T* block_ = nullptr;
  T** rows_ = nullptr;
  T*** planes_ = nullptr;
  int np_ = 0;
  int nr_ = 0;
  int nc_ = 0;
  std::ptrdiff_t row_stride_ = 0;
  std::ptrdiff_t plane_stride_ = 0;
};

// Allocators without a name. A dimension of 0 or below prints the size-0 line and yields an
// empty array; a failed allocation yields an empty array without a message. Every element is 0.
raw_array2d<double> raw_alloc_2d_double(int nr, int nc);
raw_array2d<int> raw_alloc_2d_int(int nr, int nc);
raw_array2d<char> raw_alloc_2d_char(int nr, int nc);
raw_array3d<double> raw_alloc_3d_double(int np, int nr, int nc);
// [n + 1][4][m + 1] ints (middle indexes 0..3); only n and m are tested.
raw_array3d<int> raw_alloc_3d_int4(int n, int m);

// Named allocators: store a zeroed array in `out` (an array held before is released), or leave
// `out` empty and print "Error allocating memory for variable %s\n" after the size-0 line of a
// dimension of 0 or below, or alone when the memory cannot be had.

// n + 1 eight-byte elements (doubles or a table of pointers). n = 0 leaves `out` empty without a
// message; a negative n prints the size-0 line only; a failed allocation prints the name line.
template <class T>
requires(sizeof(T) == 8) void alloc_1d_double(raw_array1d<T>& out, int n, const char* name) {
  out.reset();
  if (n == 0) return;
  if (n < 0) {
    raw_report_size_zero();
    return;
  }
  if (!out.allocate(n)) raw_report_alloc_failure(name);
}
// n + 1 ints. n = 0 leaves `out` empty without a message; a negative n prints the size-0 line
// and the name line; a failed allocation prints the name line.
void alloc_1d_int(raw_array1d<int>& out, int n, const char* name);
// Allocates `a` for n (or rows by cols) one-based elements; when the memory cannot be had,
// prints the name line and returns false.
template <class T>
bool allocate_reported(raw_array1d<T>& a, int n, const char* name) {
  if (a.allocate(n)) return true;
  raw_report_alloc_failure(name);
  return false;
}
template <class T>
bool allocate_reported(raw_array2d<T>& a, int rows, int cols, const char* name) {
  if (a.allocate(rows, cols)) return true;
  raw_report_alloc_failure(name);
  return false;
}
void alloc_2d_double_named(int nr, int nc, raw_array2d<double>& out, const char* name);
void alloc_2d_int_named(raw_array2d<int>& out, int nr, int nc, const char* name);
void alloc_2d_char_named(int nr, int nc, raw_array2d<char>& out, const char* name);
void alloc_3d_double_named(int np, int nr, int nc, raw_array3d<double>& out, const char* name);
// The lake search array [n + 1][4][m + 1], named "lake_search".
void alloc_lake_search(int n, int m, raw_array3d<int>& out);
// Stream point-source table [n + 2][m + 1] (n + 1 rows requested), named "stream_pointsource":
// n = 0 still gives two rows; m of 0 or below, or n below 0, prints both lines.
void alloc_stream_pointsource(raw_array2d<double>& out, int n, int m);
// Stream pump table [n + 1][m + 1], named "stream_pumps": n or m of 0 or below prints both lines.
void alloc_stream_pumps(raw_array2d<double>& out, int n, int m);
// Table of rows 1..n of m + 1 doubles, zeroed; no message for a dimension of 0, the size-0 line
// for a negative one (the table is then empty).
raw_array2d<double> alloc_ptr_rows_zero(int n, int m);

// n + 1 records with every field zero (the wetland property records). A negative n, or a failed
// allocation, leaves `out` empty and prints "Problem allocating memory for array of structures in
// struct_alloc.\n" (after the size-0 line for a negative n).
void struct_alloc_report_failure();
template <class T>
void struct_alloc(int n, raw_array1d<T>& out) {
  if (n < 0) {
    out.reset();
    raw_report_size_zero();
    struct_alloc_report_failure();
    return;
  }
  if (!out.allocate(n)) struct_alloc_report_failure();
}

// Sets elements [0..nr][0..nc] to value; indexes beyond the array's own are not written.
void fill_2d_double(raw_array2d<double>& array, int nr, int nc, double value);
// Sets elements [0..np][0..nr][0..nc] to value; indexes beyond the array's own are not written.
void fill_3d_double(raw_array3d<double>& array, int np, int nr, int nc, double value);

// Releases a three-dimensional array; an empty one is left as it is.
template <class T>
void free_3d_contiguous(raw_array3d<T>& array) {
  array.reset();
}
