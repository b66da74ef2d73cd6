// The VRO hydrograph file: header and five numbers, the outlet discharges ten to a line, and
// one block per location series whose count comes from the location list.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "framework/core/file_handle.h"
#include "output/vro_hydrograph.h"
#include "support/test_support.h"

using torva_test::process_state_guard;
using torva_test::read_file;
using torva_test::temp_dir;
using torva_test::write_file;

namespace {

std::string convert(const temp_dir& dir, int values, const std::vector<std::string>& locations,
                    const std::string& location_text) {
  std::string outlet;
  for (int i = 1; i <= 12; ++i)
    outlet += std::to_string(5 * i) + ".00 " + std::to_string(i) + ".500\n";
  write_file(dir.file("outlet.out"), outlet);
  write_file(dir.file("loc.out"), location_text);
  file_handle in;
  file_handle loc;
  file_handle vro;
  EXPECT_TRUE(file_handle_open(in, dir.file("outlet.out").c_str(), "r"));
  EXPECT_TRUE(file_handle_open(loc, dir.file("loc.out").c_str(), "r"));
  EXPECT_TRUE(file_handle_open(vro, dir.file("vro.out").c_str(), "w"));
  write_vro_hydrograph(in, vro, locations.empty() ? nullptr : &loc, locations, 20050314, 630, 30,
                       values);
  file_handle_close(in);
  file_handle_close(loc);
  file_handle_close(vro);
  return read_file(dir.file("vro.out"));
}

}  // namespace

TEST(VroHydrograph, TenValuesALineAndTheSeriesCountFromTheLocationList) {
  process_state_guard guard;
  temp_dir dir;
  // Two location series; the first number of every data line is a time, 5.00 here.
  const std::string text =
      convert(dir, 12, {"1 3", "2 4"}, "5.00 1.0 2.0\n10.00 3.0 4.0\n15.00 5.0 6.0\n");
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "MIRVOLA_VRO_HYDROGRAPH_FILE");
  long numbers[5] = {};
  for (long& n : numbers) in >> n;
  EXPECT_EQ(numbers[0], 2);  // never the 5 of the first data line
  EXPECT_EQ(numbers[1], 20050314);
  EXPECT_EQ(numbers[2], 630);
  EXPECT_EQ(numbers[3], 30);
  EXPECT_EQ(numbers[4], 12);
  std::getline(in, line);
  std::getline(in, line);
  EXPECT_EQ(line, "1 3");
  std::getline(in, line);
  EXPECT_EQ(line, "2 4");
  std::getline(in, line);  // the first ten outlet values
  std::istringstream first(line);
  int count = 0;
  for (double q = 0.0; first >> q; ++count) EXPECT_DOUBLE_EQ(q, count + 1.5);
  EXPECT_EQ(count, 10);
  std::vector<double> rest;
  for (double q = 0.0; in >> q;) rest.push_back(q);
  // Two more outlet values, then 12 values per series: 3 read, 9 zeros for the short file.
  ASSERT_EQ(rest.size(), 2u + 24u);
  EXPECT_DOUBLE_EQ(rest[2], 1.0);
  EXPECT_DOUBLE_EQ(rest[4], 5.0);
  EXPECT_DOUBLE_EQ(rest[5], 0.0);
  EXPECT_DOUBLE_EQ(rest[14], 2.0);
  EXPECT_DOUBLE_EQ(rest[16], 6.0);
}

TEST(VroHydrograph, WithoutLocationsTheOutletBlockEndsTheFile) {
  process_state_guard guard;
  temp_dir dir;
  const std::string text = convert(dir, 10, {}, "");
  EXPECT_EQ(text.substr(0, 28), "MIRVOLA_VRO_HYDROGRAPH_FILE\n");
  EXPECT_EQ(text.substr(28, 2), "0\n");
  // Ten values: the block ends with its newline, nothing after it.
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.find("11.5000"), std::string::npos);  // values beyond the count are not read
  const std::size_t last = text.rfind("10.5000");
  EXPECT_EQ(last + 7, text.size() - 1);
}
