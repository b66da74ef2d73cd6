// Self-checking growable arrays of the model: a named one-dimensional array that records any
// access outside its range, and two- and three-dimensional arrays of owned or borrowed rows and
// planes. Each keeps a second copy of the pointers and counts that describe its storage and
// compares them before the storage changes and at destruction, so that storage overwritten by a
// stray write is reported instead of being freed or reallocated. Grown by the start-up readers
// and set-up steps, used through the run and released with their owner (model_state, the XY
// inputs, the output and transport objects).
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "framework/core/file_handle.h"

// Grants the unit tests the means to overwrite a container's second copy of its pointers, the
// only way to reach the pointer checks; defined by the tests alone.
struct guarded_array_test_access;

// Messages of the containers (guarded_array.cpp).
void guarded_array_report_bad_pointers(const char* array_name);  // "Bad pointers found in array"
void guarded_array_report_bad_range(const char* array_name);     // "bad range addressed in array"
void guarded_array2d_report_bad_pointers();                      // "Bad pointers found in 2D array"

// Hands an open file over from one handle to another: `to` is released (closed when open) and
// takes every field of `from`, which is left empty. Handles cannot be copied or moved, so the
// arrays of handles move their elements with this when they grow or are assigned.
void guarded_element_transfer(file_handle& to, file_handle& from);

// Element types that a growing one-dimensional array can move into new storage.
template <class T>
concept guarded_relocatable = std::is_move_constructible_v<T> ||
    (std::is_default_constructible_v<T>&& requires(T& to, T& from) {
      guarded_element_transfer(to, from);
    });

// Growable one-dimensional array, elements 0 to upper() (callers use 1 to upper()). An index
// outside the range sets the range-fault flag, which is reported when the array is released;
// such an access reaches a spare element of the array, never memory outside it.
template <class T>
class guarded_array {
 public:
  guarded_array() = default;
  explicit guarded_array(const char* name) { set_name(name); }
  guarded_array(const guarded_array&) = delete;
  guarded_array& operator=(const guarded_array&) = delete;
  ~guarded_array() { release(); }

  T& operator[](long i) noexcept {
    if (!in_range(i)) [[unlikely]]
      return out_of_range();
    return elems_[i + index_shift_];
  }
  const T& operator[](long i) const noexcept {
    if (!in_range(i)) [[unlikely]]
      return out_of_range();
    return elems_[i + index_shift_];
  }

  // Adds n elements (value-initialised: numbers 0, objects default-constructed), keeping
  // elements 0 to upper(). A failed pointer check prints its message and changes nothing; a
  // negative n, or a size beyond the int range, changes nothing. True when the array grew.
  bool grow(int n) requires guarded_relocatable<T> {
    if (!pointers_intact()) {
      guarded_array_report_bad_pointers(array_name_);
      return false;
    }
    if (n < 0 || n > INT_MAX - 1 - upper_) return false;
    const std::size_t old_count = element_count();
    const int new_upper = upper_ + n;
    const std::size_t new_count = static_cast<std::size_t>(new_upper) + 1;
    T* fresh = std::allocator<T>().allocate(new_count);
    if constexpr (std::is_move_constructible_v<T>) {
      std::uninitialized_move_n(elems_, old_count, fresh);
      std::uninitialized_value_construct_n(fresh + old_count, new_count - old_count);
    } else {
      std::uninitialized_value_construct_n(fresh, new_count);
      for (std::size_t i = 0; i < old_count; ++i) guarded_element_transfer(fresh[i], elems_[i]);
    }
    free_storage();
    elems_ = fresh;
    upper_ = new_upper;
    elems_alias_ = elems_;
    upper_alias_ = upper_;
    return true;
  }
  // Grows by n and, when the array grew, sets the n new elements to value.
  bool grow_fill(int n,
                 const T& value) requires guarded_relocatable<T> && std::is_copy_assignable_v<T> {
    const int first = upper_ + 1;
    if (!grow(n)) return false;
    for (int i = first; i <= upper_; ++i) elems_[i] = value;
    return true;
  }
  // Copies elements 1 to the smaller of the two upper() values from source; allocates nothing.
  guarded_array& assign_from(const guarded_array& source) requires std::is_copy_assignable_v<T> {
    if (elems_ == nullptr || source.elems_ == nullptr || &source == this) return *this;
    const int last = std::min(upper_, source.upper_);
    for (int i = 1; i <= last; ++i) elems_[i] = source.elems_[i];
    return *this;
  }
  // What destruction does: reports a range fault once, then, when the pointers are intact,
  // destroys every element (a file handle is closed) and frees the storage, leaving the array
  // empty. Pointers that fail the check are reported and nothing is freed.
  void release() {
    if (range_fault_) {
      guarded_array_report_bad_range(array_name_);
      range_fault_ = false;
    }
    if (!pointers_intact()) {
      guarded_array_report_bad_pointers(array_name_);
      return;
    }
    free_storage();
    elems_ = nullptr;
    upper_ = 0;
    elems_alias_ = nullptr;
    upper_alias_ = 0;
  }

  int upper() const noexcept { return upper_; }  // highest index; 0 when empty
  bool range_fault() const noexcept { return range_fault_; }
  const char* array_name() const noexcept { return array_name_; }
  bool index_shift() const noexcept { return index_shift_; }
  bool empty() const noexcept { return elems_ == nullptr; }
  // Elements 0 to upper() in one block, for loops that run over all of them.
  T* data() noexcept { return elems_; }
  const T* data() const noexcept { return elems_; }

  // Copies at most 49 characters of name.
  void set_name(const char* name) noexcept {
    std::size_t k = 0;
    for (; name != nullptr && name[k] != '\0' && k + 1 < sizeof array_name_; ++k)
      array_name_[k] = name[k];
    array_name_[k] = '\0';
  }
  // When set, index 0 addresses element 1 and upper() is outside the range.
  void set_index_shift(bool shift) noexcept { index_shift_ = shift; }

 private:
  friend struct guarded_array_test_access;

  bool in_range(long i) const noexcept {
    return elems_ != nullptr && i >= -static_cast<long>(index_shift_) &&
           i <= static_cast<long>(upper_) - static_cast<long>(index_shift_);
  }
  T& out_of_range() const noexcept {
    range_fault_ = true;
    if constexpr (std::is_copy_assignable_v<T> && std::is_default_constructible_v<T>) spare_ = T();
    return spare_;
  }
  bool pointers_intact() const noexcept { return elems_alias_ == elems_ && upper_alias_ == upper_; }
  std::size_t element_count() const noexcept {
    return elems_ == nullptr ? 0 : static_cast<std::size_t>(upper_) + 1;
  }
  void free_storage() noexcept {
    if (elems_ == nullptr) return;
    std::destroy_n(elems_, element_count());
    std::allocator<T>().deallocate(elems_, element_count());
  }

  T* elems_alias_ = nullptr;  // copy of elems_, refreshed by every growth
  int upper_alias_ = 0;       // copy of upper_
  T* elems_ = nullptr;        // elements 0 to upper_
  int upper_ = 0;             // highest index; 0 when empty
  mutable bool range_fault_ = false;
  char array_name_[50] = {};
  bool index_shift_ = false;
  mutable T spare_{};  // what an access outside the range reaches
};

// Two-dimensional array of rows 1 to row_count(), each row indexed 0 to width(). Rows are owned
// (made and freed here) or borrowed (supplied by the caller, who keeps them alive as long as the
// array, and never freed here). A second copy of the row table is compared before every change
// and at destruction.
template <class T>
class guarded_array2d {
 public:
  guarded_array2d() = default;
  guarded_array2d(const guarded_array2d&) = delete;
  guarded_array2d& operator=(const guarded_array2d&) = delete;
  ~guarded_array2d() { release(); }

  // Row i for 1 <= i <= row_count(), else null.
  T* row(long i) noexcept { return i >= 1 && i <= row_count_ ? row_table_[i] : nullptr; }
  const T* row(long i) const noexcept {
    return i >= 1 && i <= row_count_ ? row_table_[i] : nullptr;
  }
  T* operator[](long i) noexcept { return row(i); }
  const T* operator[](long i) const noexcept { return row(i); }

  // True when the row table and its count match their copies; otherwise prints
  // "\n\nError!! Bad pointers found in 2D array.\n\n" and returns false.
  bool check() const {
    bool intact = row_table_alias_ == table_ptr() && rows_alias_ == row_count_;
    if (intact && rows_alias_ >= 1) {
      const std::size_t entries = static_cast<std::size_t>(rows_alias_) + 1;
      intact = row_copy_.size() == entries && row_table_.size() == entries &&
               std::equal(row_copy_.begin(), row_copy_.end(), row_table_.begin());
    }
    if (!intact) guarded_array2d_report_bad_pointers();
    return intact;
  }
  // Takes the present row table as the reference copy; returns row_count().
  int snapshot() {
    row_table_alias_ = table_ptr();
    row_copy_.assign(row_table_.begin(), row_table_.end());
    rows_alias_ = row_count_;
    return row_count_;
  }
  // Adds max(n, 0) owned rows of width() + 1 value-initialised elements. The first call with a
  // width w >= 0 fixes width() (1 when still unset); w = -1 gives none. Returns the new
  // row_count(), 0 when the check fails (nothing changes then).
  int add_rows(int n, int w) requires std::is_default_constructible_v<T> {
    if (!check()) return 0;
    set_width_once(w);
    if (width_ == 0) width_ = 1;
    if (!add_owned_rows(std::max(n, 0))) return 0;
    return row_count_;
  }
  // Adds max(n, 1) owned rows and sets elements 1 to w of each new row to value (w = -1: the
  // width as it was before the call; never beyond the row's width). Returns as add_rows.
  int add_rows_fill(int n, const T& value, int w) requires std::is_default_constructible_v<T> &&
      std::is_copy_assignable_v<T> {
    const int fill_width = w == -1 ? width_ : w;
    const int first = row_count_ + 1;
    if (add_rows(std::max(n, 1), w) == 0) return 0;
    fill_rows(first, std::min(fill_width, width_), value);
    return row_count_;
  }
  // Appends the caller's rows at indexes 1 to n of `rows` (n <= 0 appends none), borrowed. The
  // first call with a width w >= 0 fixes width(). Returns the new row_count(), 0 when the check
  // fails (nothing changes then).
  int append_rows(int n, T* const* rows, int w) {
    if (adopt_rows_ == 0 && !check()) return 0;
    set_width_once(w);
    const int add = rows == nullptr ? 0 : std::max(n, 0);
    if (add > INT_MAX - 1 - row_count_) return 0;
    const int total = row_count_ + add;
    std::vector<T*> table = grown_table(total);
    std::vector<unsigned char> owned = grown_owned(total);
    for (int k = 1; k <= add; ++k) {
      table[row_count_ + k] = rows[k];
      owned[row_count_ + k] = adopt_rows_ != 0 ? 1 : 0;
    }
    install(std::move(table), std::move(owned), total);
    return row_count_;
  }
  // Grows to at least nrows x ncols: new rows and new columns hold value, old elements keep
  // theirs; the array never shrinks. Widening needs every row to be owned: with a borrowed row
  // it changes nothing and returns 0. Returns row_count(), 0 when the check fails.
  int resize(int nrows, int ncols, const T& value) requires std::is_default_constructible_v<T> &&
      std::is_copy_assignable_v<T> {
    if (!check()) return 0;
    if (row_count_ == 0) {
      set_width_once(ncols);
      if (width_ == 0) width_ = 1;
      if (!add_owned_rows(std::max(nrows, 0))) return 0;
      fill_rows(1, std::min(ncols, width_), value);
    }
    if (ncols > width_) {
      for (int i = 1; i <= row_count_; ++i)
        if (row_owned_[i] == 0) return 0;
      for (int i = 1; i <= row_count_; ++i) {
        T* wide = new T[static_cast<std::size_t>(ncols) + 1]();
        for (int j = 1; j <= ncols; ++j) wide[j] = value;
        for (int j = 0; j <= width_; ++j) wide[j] = row_table_[i][j];
        delete[] row_table_[i];
        row_table_[i] = wide;
      }
      width_ = ncols;
    }
    if (nrows > row_count_) {
      const int add = nrows - row_count_;
      std::vector<T*> rows(static_cast<std::size_t>(add) + 1, nullptr);
      for (int k = 1; k <= add; ++k) {
        rows[k] = new T[static_cast<std::size_t>(width_) + 1]();
        for (int j = 1; j <= width_; ++j) rows[k][j] = value;
      }
      // The widened rows above are not in the reference copy yet: adopting skips the check.
      adopt_rows_ = 1;
      append_rows(add, rows.data(), -1);
      adopt_rows_ = 0;
    }
    return snapshot();
  }
  // What destruction does: when the check passes, frees every owned row (its objects destroyed)
  // and the tables, leaving the array empty; when it fails, frees nothing.
  void release() {
    if (!check()) return;
    for (int i = 1; i <= row_count_; ++i)
      if (row_owned_[i] != 0) delete[] row_table_[i];
    row_table_ = {};
    row_owned_ = {};
    row_copy_ = {};
    row_table_alias_ = nullptr;
    rows_alias_ = 0;
    width_ = 0;
    row_count_ = 0;
    adopt_rows_ = 0;
  }

  int width() const noexcept { return width_; }          // elements per row beyond index 0
  int row_count() const noexcept { return row_count_; }  // rows 1 to row_count()
  bool owns_row(long i) const noexcept { return i >= 1 && i <= row_count_ && row_owned_[i] != 0; }

 private:
  friend struct guarded_array_test_access;

  T* const* table_ptr() const noexcept { return row_table_.empty() ? nullptr : row_table_.data(); }
  void set_width_once(int w) noexcept {
    if (w >= 0 && width_ == 0) width_ = w;
  }
  // Tables of total + 1 entries holding the present rows.
  std::vector<T*> grown_table(int total) const {
    std::vector<T*> table(static_cast<std::size_t>(total) + 1, nullptr);
    for (int i = 1; i <= row_count_; ++i) table[i] = row_table_[i];
    return table;
  }
  std::vector<unsigned char> grown_owned(int total) const {
    std::vector<unsigned char> owned(static_cast<std::size_t>(total) + 1, 0);
    for (int i = 1; i <= row_count_; ++i) owned[i] = row_owned_[i];
    return owned;
  }
  bool add_owned_rows(int add) {
    if (add > INT_MAX - 1 - row_count_) return false;
    const int total = row_count_ + add;
    std::vector<T*> table = grown_table(total);
    std::vector<unsigned char> owned = grown_owned(total);
    for (int i = row_count_ + 1; i <= total; ++i) {
      table[i] = new T[static_cast<std::size_t>(width_) + 1]();
      owned[i] = 1;
    }
    install(std::move(table), std::move(owned), total);
    return true;
  }
  void install(std::vector<T*> table, std::vector<unsigned char> owned, int total) {
    row_table_ = std::move(table);
    row_owned_ = std::move(owned);
    row_count_ = total;
    snapshot();
  }
  void fill_rows(int first, int cols, const T& value) {
    for (int i = first; i <= row_count_; ++i)
      for (int j = 1; j <= cols; ++j) row_table_[i][j] = value;
  }

  T* const* row_table_alias_ = nullptr;   // copy of the row table's address
  std::vector<T*> row_copy_;              // copy of row table entries 0 to rows_alias_
  int rows_alias_ = 0;                    // copy of row_count_
  int width_ = 0;                         // elements per row beyond index 0; 0 until set
  int row_count_ = 0;                     // rows 1 to row_count_
  std::vector<T*> row_table_;             // entries 0 to row_count_; entry 0 is null
  std::vector<unsigned char> row_owned_;  // per row: 1 owned, 0 borrowed; entry 0 is 0
  int adopt_rows_ = 0;                    // while set, appended rows become owned, unchecked
};

// Three-dimensional array of doubles: planes 1 to plane_count(), each a table of row pointers 0
// to plane_rows() with rows of plane_cols() + 1 doubles (the constituent x cell x layer tables).
// Planes are owned (made here, filled with a value) or borrowed (the caller's). Copies of the
// plane table and of every plane's row pointers are compared before every change and, for the
// owned planes, at destruction.
class guarded_array3d {
 public:
  guarded_array3d() = default;
  guarded_array3d(const guarded_array3d&) = delete;
  guarded_array3d& operator=(const guarded_array3d&) = delete;
  ~guarded_array3d() { release(); }

  // Plane p (its row pointers) for 1 <= p <= plane_count(), else null: mass[p][cell][layer].
  double** plane(long p) const noexcept {
    return p >= 1 && p <= plane_count_ ? plane_table_[p] : nullptr;
  }
  double** operator[](long p) const noexcept { return plane(p); }

  // True when the counts, the plane table and the row pointers of every plane (only the owned
  // ones when owned_only is set) match their copies; otherwise prints
  // "\n\nError!!!  Bad pointers found in 3D array.\n\n" and returns false.
  bool check(bool owned_only) const;
  // Takes the present plane table and row pointers as the reference copies.
  void snapshot();
  // Appends the caller's planes at indexes 1 to n of `planes` (n <= 0 appends none), borrowed;
  // each must hold row pointers 0 to plane_rows(). rows and cols of 0 or more set plane_rows()
  // and plane_cols() (-1 leaves them); once planes exist they must equal the present values.
  // False when the check fails or the dimensions differ (nothing changes then).
  bool append_planes(int n, double** const* planes, int rows, int cols);
  // Appends n owned planes with elements [1..rows][1..cols] set to value (index 0 rows and
  // columns hold 0). Dimensions and result as for append_planes.
  bool add_planes_fill(int n, double value, int rows, int cols);
  // What destruction does: checks the owned planes; when they pass, frees every owned plane and
  // the tables, leaving the array empty (the name is kept); otherwise frees nothing.
  void release();

  int plane_count() const noexcept { return plane_count_; }
  int plane_rows() const noexcept { return plane_rows_; }
  int plane_cols() const noexcept { return plane_cols_; }
  bool owns_plane(long p) const noexcept {
    return p >= 1 && p <= plane_count_ && plane_owned_[p] != 0;
  }
  const char* array_name() const noexcept { return array_name_; }
  // Copies at most 55 characters of name.
  void set_name(const char* name) noexcept;

 private:
  friend struct guarded_array_test_access;

  double** const* table_ptr() const noexcept {
    return plane_table_.empty() ? nullptr : plane_table_.data();
  }
  bool add_planes(int n, double** const* planes, double value, int rows, int cols);

  int plane_count_alias_ = 0;                           // copy of plane_count_
  int plane_rows_alias_ = 0;                            // copy of plane_rows_
  double** const* plane_table_alias_ = nullptr;         // copy of the plane table's address
  std::vector<double**> plane_copy_;                    // copy of plane table entries 0..count
  std::vector<std::vector<double*>> plane_row_copies_;  // per plane: copy of its row pointers
  int plane_count_ = 0;                                 // planes 1 to plane_count_
  int plane_rows_ = 0;                                  // rows per plane
  int plane_cols_ = 0;                                  // doubles per row beyond index 0
  std::vector<double**> plane_table_;                   // entries 0..plane_count_; entry 0 null
  std::vector<unsigned char> plane_owned_;              // per plane: 1 owned, 0 borrowed
  char array_name_[56] = {};
};

// The operations under the names the model's steps use.

inline bool guarded_array_grow_double(guarded_array<double>& array, int n) {
  return array.grow(n);
}
inline bool guarded_array_grow_int(guarded_array<int>& array, int n) {
  return array.grow(n);
}
template <class T>
requires(sizeof(T) == 8) bool guarded_array_grow10_double(guarded_array<T>& array) {
  return array.grow(10);
}
template <class T>
bool guarded_array_grow13_ptr(guarded_array<T*>& array) {
  return array.grow(13);
}
// XY boundary points; new elements are value-initialised, so a stream point's linknode_given
// flag is clear.
template <class P>
bool guarded_array_grow_xy_point(guarded_array<P>& array, int n) {
  return array.grow(n);
}
template <class P>
requires requires(P p) {
  p.linknode_given;
}
bool guarded_array_grow_xy_stream_point(guarded_array<P>& array, int n) {
  return array.grow(n);
}
inline bool guarded_array_grow_fill_double(guarded_array<double>& array, int n, double value) {
  return array.grow_fill(n, value);
}
inline bool guarded_array_grow_fill_int(guarded_array<int>& array, int n, int value) {
  return array.grow_fill(n, value);
}
inline guarded_array<double>& guarded_array_assign_double(guarded_array<double>& destination,
                                                          const guarded_array<double>& source) {
  return destination.assign_from(source);
}
template <class T>
void guarded_array_dtor(guarded_array<T>& array) {
  array.release();
}
// Releases an array of handles, closing every open one.
inline void file_array_dtor(guarded_array<file_handle>& array) {
  array.release();
}
// Hands handles 1 to the smaller upper() over from source to destination (each destination
// handle closed first, each source handle left empty), so that no stream has two owners.
guarded_array<file_handle>& file_array_assign(guarded_array<file_handle>& destination,
                                              guarded_array<file_handle>& source);

template <class T>
T* guarded_array2d_row(guarded_array2d<T>& array, long i) {
  return array.row(i);
}
template <class T>
bool guarded_array2d_check(const guarded_array2d<T>& array) {
  return array.check();
}
template <class T>
int guarded_array2d_snapshot(guarded_array2d<T>& array) {
  return array.snapshot();
}
inline int guarded_array2d_add_rows(guarded_array2d<double>& array, int n, int w) {
  return array.add_rows(n, w);
}
inline int guarded_array2d_add_rows_int(guarded_array2d<int>& array, int n, int w) {
  return array.add_rows(n, w);
}
inline int guarded_array2d_add_rows_fill(guarded_array2d<double>& array, int n, double value,
                                         int w) {
  return array.add_rows_fill(n, value, w);
}
inline int guarded_array2d_add_rows_fill_int(guarded_array2d<int>& array, int n, int value, int w) {
  return array.add_rows_fill(n, value, w);
}
inline int guarded_array2d_add_rows_zero_int(guarded_array2d<int>& array, int n, int w) {
  return array.add_rows_fill(n, 0, w);
}
inline int guarded_array2d_append_rows(guarded_array2d<double>& array, int n, double* const* rows,
                                       int w) {
  return array.append_rows(n, rows, w);
}
inline int guarded_array2d_resize(guarded_array2d<double>& array, int nrows, int ncols,
                                  double value) {
  return array.resize(nrows, ncols, value);
}
template <class T>
void guarded_array2d_dtor(guarded_array2d<T>& array) {
  array.release();
}
// Rows of output objects (map outputs, link/node outputs): each new row holds width() + 1
// default-constructed objects, width() 2 when unset; destruction destroys every object of every
// owned row.
template <class T>
int map_output_array2d_add_rows(guarded_array2d<T>& array, int n) {
  return array.add_rows(n, 2);
}
template <class T>
int linknode_output_array2d_add_rows(guarded_array2d<T>& array, int n) {
  return array.add_rows(n, 2);
}
template <class T>
void map_output_array2d_dtor(guarded_array2d<T>& array) {
  array.release();
}
template <class T>
void linknode_output_array2d_dtor(guarded_array2d<T>& array) {
  array.release();
}

inline bool guarded_array3d_check(const guarded_array3d& array, bool owned_only) {
  return array.check(owned_only);
}
inline void guarded_array3d_snapshot(guarded_array3d& array) {
  array.snapshot();
}
inline bool guarded_array3d_append_planes(guarded_array3d& array, int n, double** const* planes,
                                          int rows, int cols) {
  return array.append_planes(n, planes, rows, cols);
}
inline bool guarded_array3d_add_planes_fill(guarded_array3d& array, int n, double value, int rows,
                                            int cols) {
  return array.add_planes_fill(n, value, rows, cols);
}
inline void guarded_array3d_dtor(guarded_array3d& array) {
  array.release();
}
