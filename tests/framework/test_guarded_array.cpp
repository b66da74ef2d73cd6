// Tests of the self-checking arrays: growth, range faults and their message, the pointer checks
// of the one-, two- and three-dimensional arrays, owned and borrowed rows and planes, and element
// types with constructors and destructors (file handles, output objects).
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "framework/core/guarded_array.h"
#include "support/test_support.h"

using torva_test::stdout_capture;
using torva_test::stdout_of;

// Overwrites the second copy a container keeps of its storage, as a stray write would, and puts
// it back, so that the pointer checks can be reached.
struct guarded_array_test_access {
  template <class T>
  static int& upper_copy(guarded_array<T>& a) {
    return a.upper_alias_;
  }
  template <class T>
  static T*& elems_copy(guarded_array<T>& a) {
    return a.elems_alias_;
  }
  template <class T>
  static std::vector<T*>& row_table(guarded_array2d<T>& a) {
    return a.row_table_;
  }
  static std::vector<double**>& plane_table(guarded_array3d& a) { return a.plane_table_; }
};

using hooks = guarded_array_test_access;

namespace {

const char* const bad_2d = "\n\nError!! Bad pointers found in 2D array.\n\n";
const char* const bad_3d = "\n\nError!!!  Bad pointers found in 3D array.\n\n";

std::string bad_1d(const std::string& name) {
  return "\n\nError!! Bad pointers found in array " + name + ".\n\n";
}

// An element type that counts its live objects.
struct counted {
  static int& live() {
    static int n = 0;
    return n;
  }
  int value = 0;
  counted() { ++live(); }
  counted(const counted& other) : value(other.value) { ++live(); }
  counted(counted&& other) noexcept : value(other.value) { ++live(); }
  counted& operator=(const counted&) = default;
  ~counted() { --live(); }
};

// An output object: built and destroyed in place, never copied or moved.
struct output_object {
  static int& live() {
    static int n = 0;
    return n;
  }
  int frame = 1;
  output_object() { ++live(); }
  output_object(const output_object&) = delete;
  output_object& operator=(const output_object&) = delete;
  ~output_object() { --live(); }
};

}  // namespace

TEST(GuardedArray, GrowKeepsElementsAndZeroesTheNewOnes) {
  guarded_array<double> a("OV_MASS_INIT");
  EXPECT_EQ(a.upper(), 0);
  EXPECT_TRUE(a.empty());
  ASSERT_TRUE(guarded_array_grow_double(a, 5));
  EXPECT_EQ(a.upper(), 5);
  for (int i = 0; i <= 5; ++i) a[i] = 10.0 + i;
  ASSERT_TRUE(guarded_array_grow_double(a, 3));
  EXPECT_EQ(a.upper(), 8);
  for (int i = 0; i <= 5; ++i) EXPECT_EQ(a[i], 10.0 + i);
  for (int i = 6; i <= 8; ++i) EXPECT_EQ(a[i], 0.0);
  EXPECT_EQ(a.data()[8], a[8]);

  // A growth by 0 keeps what is there; a negative one changes nothing.
  EXPECT_TRUE(guarded_array_grow_double(a, 0));
  EXPECT_EQ(a.upper(), 8);
  EXPECT_EQ(a[5], 15.0);
  EXPECT_FALSE(guarded_array_grow_double(a, -4));
  EXPECT_EQ(a.upper(), 8);

  guarded_array<double*> pointers;
  ASSERT_TRUE(guarded_array_grow13_ptr(pointers));
  EXPECT_EQ(pointers.upper(), 13);
  EXPECT_EQ(pointers[13], nullptr);
  ASSERT_TRUE(guarded_array_grow10_double(a));
  EXPECT_EQ(a.upper(), 18);
  EXPECT_FALSE(a.range_fault());
}

TEST(GuardedArray, GrowFillSetsOnlyTheNewElements) {
  guarded_array<double> d;
  ASSERT_TRUE(guarded_array_grow_fill_double(d, 3, 1.5));
  EXPECT_EQ(d[0], 0.0);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(d[i], 1.5);
  d[2] = -1.0;
  ASSERT_TRUE(guarded_array_grow_fill_double(d, 2, 7.0));
  EXPECT_EQ(d.upper(), 5);
  EXPECT_EQ(d[1], 1.5);
  EXPECT_EQ(d[2], -1.0);
  EXPECT_EQ(d[4], 7.0);
  EXPECT_EQ(d[5], 7.0);

  guarded_array<int> n;
  ASSERT_TRUE(guarded_array_grow_fill_int(n, 4, 9));
  ASSERT_TRUE(guarded_array_grow_int(n, 1));
  EXPECT_EQ(n.upper(), 5);
  EXPECT_EQ(n[4], 9);
  EXPECT_EQ(n[5], 0);
}

TEST(GuardedArray, BadPointersStopGrowthAndRelease) {
  struct corruption {
    const char* what;
    std::function<void(guarded_array<double>&)> corrupt;
    std::function<void(guarded_array<double>&)> restore;
  };
  double elsewhere = 0.0;
  const corruption cases[] = {
      {"storage copy", [&](guarded_array<double>& a) { hooks::elems_copy(a) = &elsewhere; },
       [](guarded_array<double>& a) { hooks::elems_copy(a) = a.data(); }},
      {"count copy", [](guarded_array<double>& a) { hooks::upper_copy(a) = a.upper() + 2; },
       [](guarded_array<double>& a) { hooks::upper_copy(a) = a.upper(); }},
  };
  for (const corruption& c : cases) {
    SCOPED_TRACE(c.what);
    guarded_array<double> a("OV_MASS_INIT");
    ASSERT_TRUE(guarded_array_grow_fill_double(a, 4, 2.0));
    c.corrupt(a);
    bool grew = true;
    EXPECT_EQ(stdout_of([&] { grew = guarded_array_grow_fill_double(a, 3, 5.0); }),
              bad_1d("OV_MASS_INIT"));
    EXPECT_FALSE(grew);
    EXPECT_EQ(a.upper(), 4);
    EXPECT_EQ(a[4], 2.0);
    // Release frees nothing of a corrupt array.
    EXPECT_EQ(stdout_of([&] { a.release(); }), bad_1d("OV_MASS_INIT"));
    EXPECT_EQ(a.upper(), 4);
    c.restore(a);
    EXPECT_TRUE(guarded_array_grow_double(a, 1));
    EXPECT_EQ(a.upper(), 5);
    EXPECT_EQ(stdout_of([&] { guarded_array_dtor(a); }), "");
    EXPECT_TRUE(a.empty());
  }
}

TEST(GuardedArray, OutOfRangeAccessSetsTheFlagAndTouchesNoElement) {
  const long bad_indexes[] = {-1, 4, 5, 1000000, -1000000};
  for (long bad : bad_indexes) {
    SCOPED_TRACE(bad);
    std::string out = stdout_of([&] {
      guarded_array<double> a("gw_mass");
      ASSERT_TRUE(guarded_array_grow_fill_double(a, 3, 1.0));
      a[0] = 1.0;
      a[bad] = 99.0;  // reaches the spare element
      EXPECT_TRUE(a.range_fault());
      EXPECT_EQ(a[bad], 0.0);  // a fresh spare: nothing of the last write is seen
      for (int i = 0; i <= 3; ++i) EXPECT_EQ(a[i], 1.0);
      EXPECT_EQ(a.upper(), 3);
    });
    EXPECT_EQ(out, "Error: bad range addressed in array gw_mass\n");
  }

  // In-range accesses leave no flag and no message; a const access is checked too.
  EXPECT_EQ(stdout_of([] {
              guarded_array<int> a("counts");
              guarded_array_grow_int(a, 2);
              a[0] = a[2] = 4;
              const guarded_array<int>& view = a;
              EXPECT_EQ(view[2], 4);
              EXPECT_FALSE(a.range_fault());
            }),
            "");
  EXPECT_EQ(stdout_of([] {
              guarded_array<int> a("counts");
              guarded_array_grow_int(a, 2);
              const guarded_array<int>& view = a;
              EXPECT_EQ(view[3], 0);
              EXPECT_TRUE(a.range_fault());
            }),
            "Error: bad range addressed in array counts\n");

  // An empty array has no storage at all: even index 0 is outside it.
  EXPECT_EQ(stdout_of([] {
              guarded_array<double> a("empty");
              a[0] = 3.0;
              EXPECT_TRUE(a.range_fault());
            }),
            "Error: bad range addressed in array empty\n");

  // The flag is reported once, and a name longer than 49 characters is cut.
  const std::string long_name(60, 'x');
  EXPECT_EQ(stdout_of([&] {
              guarded_array<double> a(long_name.c_str());
              a[7] = 1.0;
              a.release();
              a.release();
            }),
            "Error: bad range addressed in array " + std::string(49, 'x') + "\n");
}

TEST(GuardedArray, IndexShiftAddressesTheElementsFromZero) {
  std::string out = stdout_of([] {
    guarded_array<int> a("shifted");
    ASSERT_TRUE(guarded_array_grow_int(a, 4));
    a.set_index_shift(true);
    for (int i = 0; i < 4; ++i) a[i] = 100 + i;
    EXPECT_FALSE(a.range_fault());
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(a.data()[i], 100 + i - 1);
    EXPECT_EQ(a.data()[0], 0);
    a[-1] = 5;  // element 0
    EXPECT_FALSE(a.range_fault());
    EXPECT_EQ(a.data()[0], 5);
    a[4] = 7;  // upper is outside
    EXPECT_TRUE(a.range_fault());
    EXPECT_EQ(a.data()[4], 103);
  });
  EXPECT_EQ(out, "Error: bad range addressed in array shifted\n");
}

TEST(GuardedArray, AssignCopiesTheCommonRangeOnly) {
  guarded_array<double> destination;
  guarded_array<double> source;
  ASSERT_TRUE(guarded_array_grow_fill_double(destination, 3, -1.0));
  ASSERT_TRUE(guarded_array_grow_fill_double(source, 5, 4.0));
  source[0] = 8.0;
  guarded_array_assign_double(destination, source);
  EXPECT_EQ(destination.upper(), 3);
  EXPECT_EQ(destination[0], 0.0);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(destination[i], 4.0);

  // Into a longer array only the source's elements change.
  source[2] = 6.0;
  guarded_array<double> shorter;
  ASSERT_TRUE(guarded_array_grow_fill_double(shorter, 2, 1.0));
  guarded_array_assign_double(source, shorter);
  EXPECT_EQ(source[2], 1.0);
  EXPECT_EQ(source[3], 4.0);
  EXPECT_EQ(source.upper(), 5);

  guarded_array<double> empty;
  guarded_array_assign_double(destination, empty);
  EXPECT_EQ(destination[1], 4.0);
}

TEST(GuardedArray, ElementObjectsAreConstructedMovedAndDestroyed) {
  const int before = counted::live();
  {
    guarded_array<counted> a;
    const int base = counted::live();  // the array's spare element
    ASSERT_TRUE(a.grow(4));
    EXPECT_EQ(counted::live(), base + 5);
    a[4].value = 44;
    ASSERT_TRUE(a.grow(2));
    EXPECT_EQ(counted::live(), base + 7);
    EXPECT_EQ(a[4].value, 44);
    EXPECT_EQ(a[6].value, 0);
    a.release();
    EXPECT_EQ(counted::live(), base);
  }
  EXPECT_EQ(counted::live(), before);
}

TEST(GuardedArray, FileHandlesMoveWithGrowthAndAreClosedOnRelease) {
  torva_test::temp_dir dir;
  const std::string first = dir.file("first.out");
  const std::string second = dir.file("second.out");
  {
    guarded_array<file_handle> files;
    ASSERT_TRUE(files.grow(2));
    files[1].fp = fopen(first.c_str(), "w");
    files[1].fp_check = files[1].fp;
    files[2].fp = fopen(second.c_str(), "w");
    files[2].fp_check = files[2].fp;
    ASSERT_NE(files[1].fp, nullptr);
    ASSERT_NE(files[2].fp, nullptr);
    fprintf(files[1].fp, "before ");

    // Growth moves the open handles into the new storage.
    ASSERT_TRUE(files.grow(3));
    EXPECT_EQ(files.upper(), 5);
    ASSERT_TRUE(files[1].is_open());
    EXPECT_FALSE(files[5].is_open());
    fprintf(files[1].fp, "after");
    fprintf(files[2].fp, "two");

    // Nothing is flushed yet: release closes every handle.
    EXPECT_EQ(stdout_of([&] { file_array_dtor(files); }), "");
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(torva_test::read_file(first), "before after");
    EXPECT_EQ(torva_test::read_file(second), "two");
  }
}

TEST(GuardedArray, AssigningHandlesLeavesEveryStreamOneOwner) {
  torva_test::temp_dir dir;
  const std::string name = dir.file("moved.out");
  guarded_array<file_handle> destination;
  guarded_array<file_handle> source;
  ASSERT_TRUE(destination.grow(2));

  // From an empty array nothing changes.
  file_array_assign(destination, source);
  EXPECT_EQ(destination.upper(), 2);
  EXPECT_FALSE(destination[1].is_open());

  ASSERT_TRUE(source.grow(1));
  source[1].fp = fopen(name.c_str(), "w");
  source[1].fp_check = source[1].fp;
  ASSERT_NE(source[1].fp, nullptr);
  file_array_assign(destination, source);
  EXPECT_FALSE(source[1].is_open());
  ASSERT_TRUE(destination[1].is_open());
  fprintf(destination[1].fp, "kept");
  source.release();
  destination.release();
  EXPECT_EQ(torva_test::read_file(name), "kept");
}

TEST(GuardedArray2d, RowsAreOneBasedAndTheFirstWidthIsKept) {
  guarded_array2d<double> a;
  EXPECT_EQ(a.row(1), nullptr);
  EXPECT_EQ(guarded_array2d_add_rows(a, 2, 7), 2);
  EXPECT_EQ(a.width(), 7);
  EXPECT_EQ(guarded_array2d_row(a, 0), nullptr);
  EXPECT_EQ(guarded_array2d_row(a, 3), nullptr);
  ASSERT_NE(a.row(1), nullptr);
  ASSERT_NE(a[2], nullptr);
  for (int j = 0; j <= 7; ++j) EXPECT_EQ(a[2][j], 0.0);
  a[1][7] = 1.0;
  a[2][7] = 2.0;

  EXPECT_EQ(guarded_array2d_add_rows(a, 1, 9), 3);
  EXPECT_EQ(a.width(), 7);
  a[3][7] = 3.0;
  EXPECT_EQ(a[1][7], 1.0);
  EXPECT_EQ(a[2][7], 2.0);
  EXPECT_TRUE(a.owns_row(3));

  // Zero rows add nothing but leave the array consistent.
  EXPECT_EQ(guarded_array2d_add_rows(a, 0, -1), 3);
  EXPECT_EQ(guarded_array2d_add_rows(a, -2, -1), 3);
  EXPECT_EQ(stdout_of([&] { EXPECT_TRUE(guarded_array2d_check(a)); }), "");
  EXPECT_EQ(guarded_array2d_snapshot(a), 3);

  guarded_array2d<int> counts;
  EXPECT_EQ(guarded_array2d_add_rows_int(counts, 1, -1), 1);
  EXPECT_EQ(counts.width(), 1);  // unset width becomes 1
}

TEST(GuardedArray2d, FilledRowsAreAtLeastOneAndFilledWithinTheirWidth) {
  guarded_array2d<double> a;
  EXPECT_EQ(guarded_array2d_add_rows_fill(a, 0, 2.5, 4), 1);  // n = 0 adds one row
  EXPECT_EQ(a.width(), 4);
  EXPECT_EQ(a[1][0], 0.0);
  for (int j = 1; j <= 4; ++j) EXPECT_EQ(a[1][j], 2.5);

  // w = -1 fills the width the array had; a larger w than the rows hold fills only the rows.
  EXPECT_EQ(guarded_array2d_add_rows_fill(a, 2, 1.0, -1), 3);
  EXPECT_EQ(guarded_array2d_add_rows_fill(a, 1, 3.0, 50), 4);
  for (int j = 1; j <= 4; ++j) {
    EXPECT_EQ(a[2][j], 1.0);
    EXPECT_EQ(a[3][j], 1.0);
    EXPECT_EQ(a[4][j], 3.0);
    EXPECT_EQ(a[1][j], 2.5);
  }

  guarded_array2d<int> ids;
  EXPECT_EQ(guarded_array2d_add_rows_fill_int(ids, 2, 6, 3), 2);
  EXPECT_EQ(guarded_array2d_add_rows_zero_int(ids, 1, -1), 3);
  EXPECT_EQ(ids[2][3], 6);
  EXPECT_EQ(ids[3][3], 0);
}

TEST(GuardedArray2d, AppendedRowsAreBorrowedAndZeroRowsAddNone) {
  std::vector<double> row_a(4, 1.0);
  std::vector<double> row_b(4, 2.0);
  double* caller_rows[] = {nullptr, row_a.data(), row_b.data()};
  {
    guarded_array2d<double> a;
    EXPECT_EQ(guarded_array2d_add_rows(a, 1, 3), 1);
    EXPECT_EQ(guarded_array2d_append_rows(a, 2, caller_rows, -1), 3);
    EXPECT_EQ(a.row(2), row_a.data());
    EXPECT_EQ(a.row(3), row_b.data());
    EXPECT_TRUE(a.owns_row(1));
    EXPECT_FALSE(a.owns_row(2));
    a[3][1] = 5.0;

    // Appending zero rows adds no row at all.
    EXPECT_EQ(guarded_array2d_append_rows(a, 0, caller_rows, -1), 3);
    EXPECT_EQ(a.row(4), nullptr);
    EXPECT_EQ(stdout_of([&] { EXPECT_TRUE(a.check()); }), "");
  }
  // Destruction left the borrowed rows to their owner.
  EXPECT_EQ(row_b[1], 5.0);
  EXPECT_EQ(row_a[3], 1.0);

  guarded_array2d<double> first;
  EXPECT_EQ(guarded_array2d_append_rows(first, 1, caller_rows, 3), 1);
  EXPECT_EQ(first.width(), 3);
}

TEST(GuardedArray2d, ResizeWidensAndLengthensKeepingOldValues) {
  guarded_array2d<double> a;
  EXPECT_EQ(guarded_array2d_resize(a, 3, 4, -1.0), 3);  // an empty array gets 3 x 4
  EXPECT_EQ(a.width(), 4);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 4; ++j) {
      EXPECT_EQ(a[i][j], -1.0);
      a[i][j] = 10.0 * i + j;
    }

  EXPECT_EQ(guarded_array2d_resize(a, 2, 6, 0.5), 3);  // never shrinks
  EXPECT_EQ(a.width(), 6);
  for (int i = 1; i <= 3; ++i) {
    for (int j = 1; j <= 4; ++j) EXPECT_EQ(a[i][j], 10.0 * i + j);
    EXPECT_EQ(a[i][5], 0.5);
    EXPECT_EQ(a[i][6], 0.5);
  }

  EXPECT_EQ(guarded_array2d_resize(a, 5, 7, 2.0), 5);
  EXPECT_EQ(a.width(), 7);
  EXPECT_EQ(a[2][3], 23.0);
  EXPECT_EQ(a[2][6], 0.5);
  EXPECT_EQ(a[2][7], 2.0);
  for (int j = 1; j <= 7; ++j) EXPECT_EQ(a[5][j], 2.0);
  EXPECT_TRUE(a.owns_row(5));
  EXPECT_EQ(stdout_of([&] { EXPECT_TRUE(a.check()); }), "");

  // An empty array whose width was fixed narrower still ends up ncols wide.
  guarded_array2d<double> narrow;
  guarded_array2d_add_rows(narrow, 0, 2);
  EXPECT_EQ(guarded_array2d_resize(narrow, 2, 5, 9.0), 2);
  EXPECT_EQ(narrow.width(), 5);
  for (int j = 1; j <= 5; ++j) EXPECT_EQ(narrow[2][j], 9.0);
}

TEST(GuardedArray2d, ResizeDoesNotWidenBorrowedRows) {
  std::vector<double> row(3, 4.0);
  double* caller_rows[] = {nullptr, row.data()};
  guarded_array2d<double> a;
  ASSERT_EQ(guarded_array2d_append_rows(a, 1, caller_rows, 2), 1);
  EXPECT_EQ(guarded_array2d_resize(a, 1, 6, 0.0), 0);
  EXPECT_EQ(a.width(), 2);
  EXPECT_EQ(a.row(1), row.data());
  // Adding rows without widening is fine.
  EXPECT_EQ(guarded_array2d_resize(a, 3, 2, 1.0), 3);
  EXPECT_EQ(a[3][2], 1.0);
  EXPECT_FALSE(a.owns_row(1));
}

TEST(GuardedArray2d, BadPointersLeaveTheArrayUnchanged) {
  double stray[3] = {};
  guarded_array2d<double> a;
  ASSERT_EQ(guarded_array2d_add_rows_fill(a, 2, 1.0, 2), 2);
  double* const kept = hooks::row_table(a)[2];
  hooks::row_table(a)[2] = stray;

  struct mutation {
    const char* what;
    std::function<int()> run;
  };
  double* caller_rows[] = {nullptr, stray};
  const mutation mutations[] = {
      {"add_rows", [&] { return guarded_array2d_add_rows(a, 1, -1); }},
      {"add_rows_fill", [&] { return guarded_array2d_add_rows_fill(a, 1, 3.0, -1); }},
      {"append_rows", [&] { return guarded_array2d_append_rows(a, 1, caller_rows, -1); }},
      {"resize", [&] { return guarded_array2d_resize(a, 4, 4, 0.0); }},
  };
  for (const mutation& m : mutations) {
    SCOPED_TRACE(m.what);
    int result = -1;
    EXPECT_EQ(stdout_of([&] { result = m.run(); }), bad_2d);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(a.row_count(), 2);
    EXPECT_EQ(a.width(), 2);
  }
  // Release frees nothing while the table is corrupt.
  EXPECT_EQ(stdout_of([&] { guarded_array2d_dtor(a); }), bad_2d);
  EXPECT_EQ(a.row_count(), 2);

  hooks::row_table(a)[2] = kept;
  EXPECT_EQ(guarded_array2d_add_rows(a, 1, -1), 3);
  EXPECT_EQ(stdout_of([&] { guarded_array2d_dtor(a); }), "");
  EXPECT_EQ(a.row_count(), 0);
}

TEST(GuardedArray2d, OutputObjectRowsAreConstructedAndDestroyed) {
  const int before = output_object::live();
  {
    guarded_array2d<output_object> maps;
    EXPECT_EQ(map_output_array2d_add_rows(maps, 2), 2);
    EXPECT_EQ(maps.width(), 2);  // rows of 3 objects
    EXPECT_EQ(output_object::live(), before + 6);
    EXPECT_EQ(maps[2][2].frame, 1);

    guarded_array2d<output_object> series;
    EXPECT_EQ(linknode_output_array2d_add_rows(series, 1), 1);
    EXPECT_EQ(output_object::live(), before + 9);
    linknode_output_array2d_dtor(series);
    EXPECT_EQ(output_object::live(), before + 6);

    // Borrowed rows of objects are not destroyed by the array.
    output_object own_row[3];
    output_object* caller_rows[] = {nullptr, own_row};
    EXPECT_EQ(maps.append_rows(1, caller_rows, -1), 3);
    map_output_array2d_dtor(maps);
    EXPECT_EQ(output_object::live(), before + 3);
  }
  EXPECT_EQ(output_object::live(), before);
}

TEST(GuardedArray3d, OwnedPlanesAreFilledAndBorrowedPlanesStayTheCallers) {
  // The caller's plane: row pointers 0..3 into its own block of 4 x 3 doubles.
  std::vector<double> block(12, 8.0);
  double* plane_rows[4];
  for (int r = 0; r <= 3; ++r) plane_rows[r] = block.data() + r * 3;
  double** caller_planes[] = {nullptr, plane_rows};
  {
    guarded_array3d mass;
    mass.set_name("soil_mass");
    EXPECT_EQ(std::string(mass.array_name()), "soil_mass");
    ASSERT_TRUE(guarded_array3d_add_planes_fill(mass, 2, 1.5, 3, 2));
    EXPECT_EQ(mass.plane_count(), 2);
    EXPECT_EQ(mass.plane_rows(), 3);
    EXPECT_EQ(mass.plane_cols(), 2);
    EXPECT_EQ(mass.plane(0), nullptr);
    EXPECT_EQ(mass.plane(3), nullptr);
    for (int p = 1; p <= 2; ++p)
      for (int r = 1; r <= 3; ++r) {
        EXPECT_EQ(mass[p][r][0], 0.0);
        for (int c = 1; c <= 2; ++c) EXPECT_EQ(mass[p][r][c], 1.5);
      }
    mass[2][3][2] = 4.0;

    ASSERT_TRUE(guarded_array3d_append_planes(mass, 1, caller_planes, -1, -1));
    EXPECT_EQ(mass.plane_count(), 3);
    EXPECT_EQ(mass.plane(3), plane_rows);
    EXPECT_TRUE(mass.owns_plane(2));
    EXPECT_FALSE(mass.owns_plane(3));
    mass[3][1][1] = -2.0;
    EXPECT_EQ(mass[2][3][2], 4.0);
    EXPECT_EQ(stdout_of([&] { EXPECT_TRUE(guarded_array3d_check(mass, false)); }), "");

    // Zero planes add nothing.
    ASSERT_TRUE(guarded_array3d_append_planes(mass, 0, caller_planes, -1, -1));
    EXPECT_EQ(mass.plane_count(), 3);
  }
  // The borrowed plane outlives the array untouched but for the caller's own write.
  EXPECT_EQ(block[4], -2.0);
  EXPECT_EQ(block[11], 8.0);
}

TEST(GuardedArray3d, CorruptPlanesStopChangesAndOnlyOwnedOnesStopRelease) {
  std::vector<double> block(9, 0.0);
  double* plane_rows[3] = {block.data(), block.data() + 3, block.data() + 6};
  double** caller_planes[] = {nullptr, plane_rows};
  double stray[3] = {};

  // A stray write into a borrowed plane's row table blocks every change but not the release,
  // which looks at owned planes only.
  {
    guarded_array3d mass;
    ASSERT_TRUE(guarded_array3d_add_planes_fill(mass, 1, 1.0, 2, 2));
    ASSERT_TRUE(guarded_array3d_append_planes(mass, 1, caller_planes, -1, -1));
    plane_rows[1] = stray;
    bool changed = true;
    EXPECT_EQ(stdout_of([&] { changed = guarded_array3d_add_planes_fill(mass, 1, 0.0, -1, -1); }),
              bad_3d);
    EXPECT_FALSE(changed);
    EXPECT_EQ(mass.plane_count(), 2);
    EXPECT_EQ(stdout_of([&] { EXPECT_TRUE(guarded_array3d_check(mass, true)); }), "");
    EXPECT_EQ(stdout_of([&] { guarded_array3d_dtor(mass); }), "");
    EXPECT_EQ(mass.plane_count(), 0);
    plane_rows[1] = block.data() + 3;
  }

  // A stray write into an owned plane blocks the release until it is undone.
  guarded_array3d mass;
  ASSERT_TRUE(guarded_array3d_add_planes_fill(mass, 2, 1.0, 2, 2));
  double* const kept = mass.plane(2)[1];
  mass.plane(2)[1] = stray;
  EXPECT_EQ(stdout_of([&] { mass.release(); }), bad_3d);
  EXPECT_EQ(mass.plane_count(), 2);
  mass.plane(2)[1] = kept;

  // So does a stray write into the plane table itself.
  double** const kept_plane = hooks::plane_table(mass)[1];
  hooks::plane_table(mass)[1] = caller_planes[1];
  EXPECT_EQ(stdout_of([&] { EXPECT_FALSE(mass.check(true)); }), bad_3d);
  hooks::plane_table(mass)[1] = kept_plane;
  EXPECT_EQ(stdout_of([&] { mass.release(); }), "");
  EXPECT_EQ(mass.plane_count(), 0);
}

TEST(GuardedArray3d, PlanesKeepOneShape) {
  guarded_array3d conc;
  // Dimensions can be set before any plane exists.
  ASSERT_TRUE(guarded_array3d_add_planes_fill(conc, 0, 0.0, 4, 3));
  EXPECT_EQ(conc.plane_rows(), 4);
  EXPECT_EQ(conc.plane_cols(), 3);
  ASSERT_TRUE(guarded_array3d_add_planes_fill(conc, 1, 2.0, -1, -1));
  EXPECT_EQ(conc[1][4][3], 2.0);
  // Once planes exist a different shape is refused and nothing changes.
  EXPECT_FALSE(guarded_array3d_add_planes_fill(conc, 1, 2.0, 5, 3));
  EXPECT_FALSE(guarded_array3d_add_planes_fill(conc, 1, 2.0, 4, 9));
  EXPECT_EQ(conc.plane_count(), 1);
  EXPECT_EQ(conc.plane_rows(), 4);
  EXPECT_EQ(conc.plane_cols(), 3);
  // The same shape given again is accepted.
  EXPECT_TRUE(guarded_array3d_add_planes_fill(conc, 1, 5.0, 4, 3));
  EXPECT_EQ(conc[2][1][1], 5.0);
}
