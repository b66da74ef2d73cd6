// The check of file-local names the build runs before compiling a test program's files together
// (.ci/check-test-names): two files of a program may not declare the same file-local name, nor
// hide a name of the shared test support, while names kept in a namespace of the file's own and
// identical type aliases may repeat.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace check_test_names_tests {

using torva_test::command_result;
using torva_test::contains;
using torva_test::run_command;
using torva_test::temp_dir;
using torva_test::write_file;

struct names_case {
  const char* what;
  const char* first;   // a.cpp
  const char* second;  // b.cpp
  bool passes;
  const char* named;  // the name the failure names ("" when it passes)
};

const names_case names_cases[] = {
    {"helpers of one name with other parameters overload each other silently",
     "namespace {\nint helper(int v) { return v; }\n}  // namespace\n",
     "namespace {\ndouble helper(double v) { return v; }\n}  // namespace\n", false, "helper"},
    {"a static function and a namespace-scope constant are file-local too",
     "static int rows() { return 1; }\nconstexpr int cols = 2;\n",
     "const int rows = 3, cols = 4;\n", false, "rows"},
    {"types and macros of the anonymous namespace",
     "namespace {\nstruct firing {};\n}  // namespace\n", "#define firing 3\n", false, "firing"},
    {"a file-local name hides a name of the shared support",
     "namespace {\nstd::string read_file(int) { return {}; }\n}  // namespace\n",
     "int other = 0;\n", false, "read_file"},
    {"names kept in a namespace of each file's own meet nowhere",
     "namespace a_tests {\nint helper(int v) { return v; }\nconst int rows = 1;\n}  // namespace "
     "a_tests\n",
     "namespace b_tests {\ndouble helper(double v) { return v; }\nconst int rows = 2;\n}  // "
     "namespace b_tests\n",
     true, ""},
    {"identical type aliases may repeat, and text inside a raw string is not a declaration",
     "namespace {\nusing values = std::vector<double>;\n}  // namespace\n",
     "namespace {\nusing values = std::vector<double>;\nconst char* text = R\"(\nint "
     "helper(int);\n)\";\n"
     "int helper(int v) { return v; }\n}  // namespace\n",
     true, ""},
    {"type aliases of one name for other types",
     "namespace {\nusing values = std::vector<int>;\n}  // namespace\n",
     "namespace {\nusing values = std::vector<double>;\n}  // namespace\n", false, "values"},
};

TEST(CheckTestNames, ClashingFileLocalNamesFailNamingTheFilesAndTheName) {
  const std::string check = std::string(TORVA_SOURCE_DIR) + "/.ci/check-test-names";
  for (const names_case& c : names_cases) {
    temp_dir dir;
    write_file(dir.file("a.cpp"), c.first);
    write_file(dir.file("b.cpp"), c.second);
    const command_result run = run_command(check, {"some_tests", "a.cpp", "b.cpp"});
    if (c.passes) {
      EXPECT_EQ(run.status, 0) << c.what << "\n" << run.out << run.err;
      EXPECT_EQ(run.out, "") << c.what;
      continue;
    }
    EXPECT_NE(run.status, 0) << c.what;
    EXPECT_TRUE(contains(run.out, "some_tests: ")) << c.what << "\n" << run.out;
    EXPECT_TRUE(contains(run.out, "\"" + std::string(c.named) + "\"")) << c.what << "\n" << run.out;
    EXPECT_TRUE(contains(run.out, "a.cpp")) << c.what << "\n" << run.out;
  }
}

}  // namespace check_test_names_tests
