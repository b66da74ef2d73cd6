// Tests of the raw one-based arrays: layout of the one-, two- and three-dimensional blocks, zero
// fill, ownership and release, and the size and failure messages of the named allocators.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <type_traits>

#include "framework/core/link_node_array.h"
#include "framework/core/raw_arrays.h"
#include "support/test_support.h"

using torva_test::stdout_capture;
using torva_test::stdout_of;

namespace {

const char* const size_zero_line = "Error: Attempting to allocate array of size 0\n";

std::string name_line(const std::string& name) {
  return "Error allocating memory for variable " + name + "\n";
}

template <class T>
bool all_equal(const T* first, std::size_t count, T value) {
  for (std::size_t i = 0; i < count; ++i)
    if (first[i] != value) return false;
  return true;
}

}  // namespace

static_assert(!std::is_copy_constructible_v<raw_array1d<double>>);
static_assert(!std::is_copy_assignable_v<raw_array2d<double>>);
static_assert(!std::is_copy_constructible_v<raw_array3d<double>>);
static_assert(std::is_nothrow_move_constructible_v<raw_array2d<int>>);

TEST(RawArrays, OneDimensionalArrayIsOneBasedZeroedAndMovesItsOwnership) {
  raw_array1d<double> depth;
  ASSERT_TRUE(depth.allocate(5));
  EXPECT_EQ(depth.count(), 5);
  EXPECT_EQ(depth.element_count(), 6u);
  EXPECT_TRUE(all_equal(depth.data(), 6, 0.0));
  depth[5] = 2.5;
  depth[1] = 1.0;
  EXPECT_EQ(depth.data()[5], 2.5);

  raw_array1d<double> moved = std::move(depth);
  EXPECT_TRUE(depth.empty());
  EXPECT_EQ(depth.count(), 0);
  ASSERT_FALSE(moved.empty());
  EXPECT_EQ(moved[5], 2.5);
  EXPECT_EQ(moved[1], 1.0);

  // Moving onto an array that holds one releases the old one (the leak checker sees it).
  raw_array1d<double> other;
  ASSERT_TRUE(other.allocate(3));
  other = std::move(moved);
  EXPECT_EQ(other.count(), 5);
  EXPECT_EQ(other[5], 2.5);

  EXPECT_FALSE(other.allocate(-1));
  EXPECT_TRUE(other.empty());
}

// has(a, i) guards a read of element i, holds(a, n) a loop over elements 1..n: neither may let
// through slot 0, an element past the end, or any element of an array never allocated.
TEST(RawArrays, HasAndHoldsAdmitOnlyAllocatedElementsOneToCount) {
  raw_array1d<int> three;
  ASSERT_TRUE(three.allocate(3));
  const raw_array1d<int> none;
  struct index_case {
    const raw_array1d<int>* array;
    int i;
    bool has, holds;
  };
  const index_case cases[] = {
      {&three, -1, false, true}, {&three, 0, false, true},  {&three, 1, true, true},
      {&three, 3, true, true},   {&three, 4, false, false}, {&none, 0, false, true},
      {&none, 1, false, false},
  };
  for (const index_case& c : cases) {
    SCOPED_TRACE("count " + std::to_string(c.array->count()) + ", i " + std::to_string(c.i));
    EXPECT_EQ(has(*c.array, c.i), c.has);
    EXPECT_EQ(holds(*c.array, c.i), c.holds);
  }
}

TEST(RawArrays, OneDimensionalAllocatorsRefuseZeroAndNegativeSizes) {
  struct size_case {
    bool ints;
    int n;
    std::string expected_output;
    int expected_count;  // -1: no array
  };
  const size_case cases[] = {
      {false, 0, "", -1},
      {false, -1, size_zero_line, -1},
      {false, -7, size_zero_line, -1},  // any negative size, not only -1
      {false, 4, "", 4},
      {true, 0, "", -1},
      {true, -1, size_zero_line + name_line("soiltype"), -1},
      {true, -3, size_zero_line + name_line("soiltype"), -1},
      {true, 6, "", 6},
  };
  for (const size_case& c : cases) {
    SCOPED_TRACE(std::string(c.ints ? "ints" : "doubles") + " n=" + std::to_string(c.n));
    raw_array1d<double> doubles;
    raw_array1d<int> ints;
    // A previous array in the output is replaced, also by the empty result.
    ASSERT_TRUE(doubles.allocate(2));
    ASSERT_TRUE(ints.allocate(2));
    const std::string out = stdout_of([&] {
      if (c.ints)
        alloc_1d_int(ints, c.n, "soiltype");
      else
        alloc_1d_double(doubles, c.n, "ov_depth");
    });
    EXPECT_EQ(out, c.expected_output);
    if (c.expected_count < 0) {
      EXPECT_TRUE(c.ints ? ints.empty() : doubles.empty());
    } else if (c.ints) {
      ASSERT_EQ(ints.count(), c.expected_count);
      EXPECT_TRUE(all_equal(ints.data(), ints.element_count(), 0));
    } else {
      ASSERT_EQ(doubles.count(), c.expected_count);
      EXPECT_TRUE(all_equal(doubles.data(), doubles.element_count(), 0.0));
    }
  }
}

TEST(RawArrays, PointerTablesUseTheEightByteAllocator) {
  raw_array1d<double*> table;
  EXPECT_EQ(stdout_of([&] { alloc_1d_double(table, 3, "rows"); }), "");
  ASSERT_EQ(table.count(), 3);
  for (int i = 0; i <= 3; ++i) EXPECT_EQ(table[i], nullptr);
}

TEST(RawArrays, TwoDimensionalArrayIsOneZeroedBlockWithRowPointers) {
  raw_array2d<double> map = raw_alloc_2d_double(3, 4);
  ASSERT_FALSE(map.empty());
  EXPECT_EQ(map.row_count(), 3);
  EXPECT_EQ(map.col_count(), 4);
  EXPECT_EQ(map.element_count(), 20u);
  EXPECT_TRUE(all_equal(map.data(), 20, 0.0));
  // Row 2 starts 10 elements after row 0, in the table and through indexing alike.
  EXPECT_EQ(map.row_table()[2], map.data() + 10);
  EXPECT_EQ(map[2], map.data() + 10);
  for (int i = 0; i <= 3; ++i) EXPECT_EQ(map.row_table()[i], map[i]);
  map[3][4] = 7.0;
  map[1][0] = 3.0;
  EXPECT_EQ(map.data()[19], 7.0);
  EXPECT_EQ(map.data()[5], 3.0);

  raw_array2d<int> ints = raw_alloc_2d_int(2, 2);
  raw_array2d<char> bytes = raw_alloc_2d_char(1, 6);
  ASSERT_FALSE(ints.empty());
  ASSERT_FALSE(bytes.empty());
  EXPECT_TRUE(all_equal(ints.data(), 9, 0));
  EXPECT_TRUE(all_equal(bytes.data(), 14, '\0'));
  EXPECT_EQ(bytes[1], bytes.data() + 7);

  // Moving the owner keeps the block; the source is left empty.
  raw_array2d<double> moved = std::move(map);
  EXPECT_TRUE(map.empty());
  EXPECT_EQ(moved[3][4], 7.0);
}

TEST(RawArrays, ThreeDimensionalArrayIsOneBlockWithPlaneAndRowTables) {
  raw_array3d<double> mass = raw_alloc_3d_double(2, 3, 4);
  ASSERT_FALSE(mass.empty());
  EXPECT_EQ(mass.plane_count(), 2);
  EXPECT_EQ(mass.row_count(), 3);
  EXPECT_EQ(mass.col_count(), 4);
  EXPECT_EQ(mass.element_count(), 60u);
  EXPECT_TRUE(all_equal(mass.data(), 60, 0.0));
  for (int p = 0; p <= 2; ++p)
    for (int r = 0; r <= 3; ++r) {
      EXPECT_EQ(mass.plane_table()[p][r], mass.data() + (p * 4 + r) * 5);
      EXPECT_EQ(mass[p][r], mass.data() + (p * 4 + r) * 5);
    }
  mass[2][3][4] = 9.0;
  EXPECT_EQ(mass.data()[59], 9.0);

  raw_array3d<int> search;
  EXPECT_EQ(stdout_of([&] { alloc_lake_search(3, 6, search); }), "");
  ASSERT_FALSE(search.empty());
  EXPECT_EQ(search.plane_count(), 3);
  EXPECT_EQ(search.row_count(), 3);  // middle indexes 0..3
  EXPECT_EQ(search.col_count(), 6);
  EXPECT_TRUE(all_equal(search.data(), 4u * 4u * 7u, 0));
}

TEST(RawArrays, ZeroOrNegativeDimensionsPrintTheSizeLineAndYieldNoArray) {
  struct dim_case {
    const char* what;
    std::function<bool()> allocate;  // true when an array came back
    std::string expected_output;
  };
  raw_array2d<double> d2;
  raw_array2d<int> i2;
  raw_array2d<char> c2;
  raw_array3d<double> d3;
  raw_array3d<int> i3;
  const dim_case cases[] = {
      {"raw 2d int 0x5", [] { return !raw_alloc_2d_int(0, 5).empty(); }, size_zero_line},
      {"raw 2d double 5x0", [] { return !raw_alloc_2d_double(5, 0).empty(); }, size_zero_line},
      {"raw 2d double -2x5", [] { return !raw_alloc_2d_double(-2, 5).empty(); }, size_zero_line},
      {"raw 2d char 3x-1", [] { return !raw_alloc_2d_char(3, -1).empty(); }, size_zero_line},
      {"raw 3d 0x2x2", [] { return !raw_alloc_3d_double(0, 2, 2).empty(); }, size_zero_line},
      {"raw 3d 2x-1x2", [] { return !raw_alloc_3d_double(2, -1, 2).empty(); }, size_zero_line},
      {"raw 3d int4 4x0", [] { return !raw_alloc_3d_int4(4, 0).empty(); }, size_zero_line},
      {"named 2d int 0x5",
       [&] {
         alloc_2d_int_named(i2, 0, 5, "stream_index");
         return !i2.empty();
       },
       size_zero_line + name_line("stream_index")},
      {"named 2d double -1x3",
       [&] {
         alloc_2d_double_named(-1, 3, d2, "chan_depth");
         return !d2.empty();
       },
       size_zero_line + name_line("chan_depth")},
      {"named 2d char 2x0",
       [&] {
         alloc_2d_char_named(2, 0, c2, "link_type");
         return !c2.empty();
       },
       size_zero_line + name_line("link_type")},
      {"named 3d 2x0x2",
       [&] {
         alloc_3d_double_named(2, 0, 2, d3, "vol_sed");
         return !d3.empty();
       },
       size_zero_line + name_line("vol_sed")},
      {"lake search 0x3",
       [&] {
         alloc_lake_search(0, 3, i3);
         return !i3.empty();
       },
       size_zero_line + name_line("lake_search")},
  };
  for (const dim_case& c : cases) {
    SCOPED_TRACE(c.what);
    bool got_array = true;
    EXPECT_EQ(stdout_of([&] { got_array = c.allocate(); }), c.expected_output);
    EXPECT_FALSE(got_array);
  }
}

TEST(RawArrays, SizesBeyondTheAddressSpaceAreAFailedAllocation) {
  // The element count overflows: no allocation is attempted and no array comes back.
  EXPECT_EQ(stdout_of([] { EXPECT_TRUE(raw_alloc_2d_double(INT_MAX, INT_MAX).empty()); }), "");
  EXPECT_EQ(stdout_of([] { EXPECT_TRUE(raw_alloc_3d_double(INT_MAX, INT_MAX, INT_MAX).empty()); }),
            "");
  raw_array2d<double> out;
  ASSERT_TRUE(out.allocate(1, 1));
  EXPECT_EQ(stdout_of([&] { alloc_2d_double_named(INT_MAX, INT_MAX, out, "huge"); }),
            name_line("huge"));
  EXPECT_TRUE(out.empty());
  raw_array2d<double> table;
  EXPECT_EQ(stdout_of([&] { alloc_stream_pointsource(table, INT_MAX, 2); }),
            name_line("stream_pointsource"));
  EXPECT_TRUE(table.empty());
}

TEST(RawArrays, NamedAllocatorsZeroEveryElementIncludingIndexZero) {
  raw_array2d<double> d2;
  raw_array2d<int> i2;
  raw_array3d<double> d3;
  const std::string out = stdout_of([&] {
    alloc_2d_double_named(2, 3, d2, "a");
    alloc_2d_int_named(i2, 3, 2, "b");
    alloc_3d_double_named(1, 2, 3, d3, "c");
  });
  EXPECT_EQ(out, "");
  ASSERT_FALSE(d2.empty());
  ASSERT_FALSE(i2.empty());
  ASSERT_FALSE(d3.empty());
  EXPECT_TRUE(all_equal(d2.data(), 12, 0.0));
  EXPECT_TRUE(all_equal(i2.data(), 12, 0));
  EXPECT_TRUE(all_equal(d3.data(), 24, 0.0));
}

TEST(RawArrays, FillWritesIndexZeroAndStaysInsideTheArray) {
  raw_array2d<double> map = raw_alloc_2d_double(3, 4);
  ASSERT_FALSE(map.empty());
  fill_2d_double(map, 3, 4, 1.5);
  EXPECT_TRUE(all_equal(map.data(), 20, 1.5));  // row 0 and column 0 too
  // Dimensions larger than the array's own fill what there is and write nothing beyond it.
  fill_2d_double(map, 10, 10, -2.0);
  EXPECT_TRUE(all_equal(map.data(), 20, -2.0));
  // Smaller dimensions fill the leading part only.
  fill_2d_double(map, 1, 1, 4.0);
  EXPECT_EQ(map[0][0], 4.0);
  EXPECT_EQ(map[1][1], 4.0);
  EXPECT_EQ(map[1][2], -2.0);
  EXPECT_EQ(map[2][0], -2.0);

  raw_array3d<double> mass = raw_alloc_3d_double(2, 2, 2);
  ASSERT_FALSE(mass.empty());
  fill_3d_double(mass, 2, 2, 2, 3.0);
  EXPECT_TRUE(all_equal(mass.data(), 27, 3.0));
  fill_3d_double(mass, 5, 5, 5, 0.5);
  EXPECT_TRUE(all_equal(mass.data(), 27, 0.5));

  raw_array2d<double> empty;
  fill_2d_double(empty, 3, 3, 1.0);  // nothing to fill, nothing written
  EXPECT_TRUE(empty.empty());
}

TEST(RawArrays, StreamTablesTestTheDimensionsOfTheirBlock) {
  raw_array2d<double> points;
  EXPECT_EQ(stdout_of([&] { alloc_stream_pointsource(points, 0, 6); }), "");
  ASSERT_FALSE(points.empty());
  EXPECT_EQ(points.row_count(), 1);  // two rows, 0 and 1
  EXPECT_EQ(points.col_count(), 6);
  EXPECT_TRUE(all_equal(points.data(), 14, 0.0));

  raw_array2d<double> pumps;
  EXPECT_EQ(stdout_of([&] { alloc_stream_pumps(pumps, 3, 2); }), "");
  ASSERT_FALSE(pumps.empty());
  EXPECT_EQ(pumps.row_count(), 3);
  EXPECT_EQ(pumps.col_count(), 2);
  EXPECT_TRUE(all_equal(pumps.data(), 12, 0.0));

  struct stream_case {
    bool pumps;
    int n;
    int m;
  };
  const stream_case refused[] = {{true, 0, 6},  {true, 2, 0},   {true, -1, 3},
                                 {false, 3, 0}, {false, 2, -4}, {false, -1, 3}};
  for (const stream_case& c : refused) {
    SCOPED_TRACE(std::string(c.pumps ? "pumps" : "pointsource") + " " + std::to_string(c.n) + "x" +
                 std::to_string(c.m));
    raw_array2d<double> out;
    ASSERT_TRUE(out.allocate(1, 1));
    const std::string text = stdout_of([&] {
      if (c.pumps)
        alloc_stream_pumps(out, c.n, c.m);
      else
        alloc_stream_pointsource(out, c.n, c.m);
    });
    EXPECT_EQ(text, size_zero_line + name_line(c.pumps ? "stream_pumps" : "stream_pointsource"));
    EXPECT_TRUE(out.empty());
  }
}

TEST(RawArrays, RowTableHasZeroedRowsOneToN) {
  raw_array2d<double> rows;
  EXPECT_EQ(stdout_of([&] { rows = alloc_ptr_rows_zero(2, 3); }), "");
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.row_count(), 2);
  EXPECT_EQ(rows.col_count(), 3);
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(rows[i][j], 0.0);

  // A zero dimension is no error here; a negative one is.
  EXPECT_EQ(stdout_of([&] { rows = alloc_ptr_rows_zero(0, 3); }), "");
  EXPECT_EQ(rows.row_count(), 0);
  EXPECT_EQ(stdout_of([&] { rows = alloc_ptr_rows_zero(2, -1); }), size_zero_line);
  EXPECT_TRUE(rows.empty());
}

TEST(RawArrays, RecordArraysAreZeroedOrRefused) {
  struct record {
    double slot[8];
  };
  raw_array1d<record> wetlands;
  EXPECT_EQ(stdout_of([&] { struct_alloc(3, wetlands); }), "");
  ASSERT_EQ(wetlands.count(), 3);
  for (int i = 0; i <= 3; ++i)
    for (double v : wetlands[i].slot) EXPECT_EQ(v, 0.0);
  wetlands[3].slot[7] = 0.25;

  EXPECT_EQ(stdout_of([&] { struct_alloc(-2, wetlands); }),
            std::string(size_zero_line) +
                "Problem allocating memory for array of structures in struct_alloc.\n");
  EXPECT_TRUE(wetlands.empty());
}

TEST(RawArrays, ReleasingAThreeDimensionalArrayEmptiesItsOwner) {
  raw_array3d<double> none;
  free_3d_contiguous(none);
  EXPECT_TRUE(none.empty());

  raw_array3d<double> mass = raw_alloc_3d_double(1, 1, 1);
  ASSERT_FALSE(mass.empty());
  free_3d_contiguous(mass);
  EXPECT_TRUE(mass.empty());
  EXPECT_EQ(mass.plane_table(), nullptr);
  EXPECT_EQ(mass.element_count(), 0u);
  free_3d_contiguous(mass);  // a second release does nothing
  EXPECT_TRUE(mass.empty());
}

// A channel array keeps each link's nodes side by side, spare node at both ends, so that the
// routing's sweep along a link reads one contiguous range; links of different lengths do not
// overlap and nothing outside the network is reachable.
TEST(LinkNodeArray, EachLinkHoldsItsOwnContiguousNodeRange) {
  const int nodes[] = {0, 3, 1, 5};  // links 1..3
  link_node_array<double> q;
  ASSERT_TRUE(q.allocate(3, nodes));
  EXPECT_EQ(q.link_count(), 3);
  EXPECT_EQ(q.element_count(), static_cast<std::size_t>((3 + 2) + (1 + 2) + (5 + 2)));
  for (int l = 1; l <= 3; ++l) {
    EXPECT_EQ(q.node_count(l), nodes[l]);
    for (int n = 0; n <= nodes[l] + 1; ++n) {
      ASSERT_TRUE(q.has(l, n));
      EXPECT_EQ(q(l, n), 0.0);
      q(l, n) = 100.0 * l + n;
      EXPECT_EQ(&q(l, n), q.link_nodes(l) + n);  // one range per link
    }
  }
  // Every value written survives the writes to the other links.
  for (int l = 1; l <= 3; ++l)
    for (int n = 0; n <= nodes[l] + 1; ++n) EXPECT_EQ(q(l, n), 100.0 * l + n);
  EXPECT_EQ(q.link_nodes(2) - q.link_nodes(1), 5);
  EXPECT_EQ(q.link_nodes(3) - q.link_nodes(2), 3);

  const struct {
    int link, node;
  } outside[] = {{0, 1}, {4, 1}, {-1, 0}, {1, -1}, {1, 5}, {2, 3}, {3, 7}};
  for (const auto& o : outside) EXPECT_FALSE(q.has(o.link, o.node)) << o.link << "," << o.node;
  EXPECT_EQ(q.node_count(0), 0);
  EXPECT_EQ(q.node_count(4), 0);

  link_node_array<double> moved(std::move(q));
  EXPECT_TRUE(q.empty());
  EXPECT_FALSE(q.has(1, 1));
  EXPECT_EQ(moved(3, 6), 306.0);
}

TEST(LinkNodeArray, BadCountsLeaveItEmpty) {
  link_node_array<int> a;
  const int negative[] = {0, 2, -1};
  EXPECT_FALSE(a.allocate(2, negative));
  EXPECT_TRUE(a.empty());
  EXPECT_FALSE(a.allocate(-1, negative));
  EXPECT_FALSE(a.allocate(2, nullptr));
  EXPECT_FALSE(a.allocate_uniform(2, -3));
  ASSERT_TRUE(a.allocate_uniform(2, 4));
  EXPECT_TRUE(a.has(2, 5));
  EXPECT_FALSE(a.has(2, 6));
  ASSERT_TRUE(a.allocate(0, nullptr));  // a network without links holds nothing
  EXPECT_EQ(a.link_count(), 0);
  EXPECT_FALSE(a.has(1, 1));
}
