// Whole-run regression cases: every folder of tests/cases/ that holds a "case.txt" is run by the
// real torva executable at 1 and at 8 threads. The two runs must write the same numbers exactly,
// and each compared output must agree with the case's expected/ copy within the tolerance the
// case file gives. With TORVA_UPDATE_EXPECTED=<case name> in the environment the outputs of
// that case are written to its expected/ folder instead (`make update-expected CASE=name`).
//
// case.txt, one statement per line ('#' starts a comment):
//   project <file>                         the project file of the case
//   compare <file> <relative> <absolute>   an output to compare ("stdout" is the console)
//   skip <text...>                         lines holding this text are not compared (run times)
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/numeric_compare.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using torva_test::command_result;
using torva_test::compare_texts;
using torva_test::compare_tolerance;
using torva_test::read_file;
using torva_test::run_command;
using torva_test::temp_dir;
using torva_test::torva_exe;
using torva_test::write_file;

namespace {

struct compared_file {
  std::string name;
  compare_tolerance tol;
};

struct case_file {
  std::string project;
  std::vector<compared_file> files;
  std::vector<std::string> skip_lines;
  std::string fault;  // what is wrong with case.txt, empty when it reads
};

case_file read_case_file(const fs::path& path) {
  case_file c;
  std::istringstream in(read_file(path.string()));
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (const std::size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string word;
    if (!(words >> word)) continue;
    if (word == "project" && words >> c.project) continue;
    compared_file f;
    if (word == "compare" && words >> f.name >> f.tol.relative >> f.tol.absolute) {
      c.files.push_back(f);
      continue;
    }
    std::string rest;
    if (word == "skip" && std::getline(words >> std::ws, rest) && !rest.empty()) {
      c.skip_lines.push_back(rest);
      continue;
    }
    c.fault = path.string() + ":" + std::to_string(number) + ": cannot read \"" + line + "\"";
    return c;
  }
  if (c.project.empty()) c.fault = path.string() + ": no project line";
  if (c.files.empty()) c.fault = path.string() + ": nothing to compare";
  for (compared_file& f : c.files) f.tol.skip_lines = c.skip_lines;
  return c;
}

// The outputs of one run of a case: file name to contents ("stdout" the console).
struct run_outputs {
  command_result run;
  std::vector<std::string> texts;  // in the order of the case's compared files
};

// Copies the case's inputs into the current (temporary) folder, sets the thread count with the
// project's own card and runs the project.
run_outputs run_case(const fs::path& folder, const case_file& c, const temp_dir& dir, int threads) {
  for (const fs::directory_entry& e : fs::directory_iterator(folder))
    if (e.is_regular_file() && e.path().filename() != "case.txt")
      fs::copy_file(e.path(), dir.file(e.path().filename().string()),
                    fs::copy_options::overwrite_existing);
  std::string project = read_file(dir.file(c.project));
  if (!project.empty() && project.back() != '\n') project += '\n';
  write_file(dir.file(c.project), project + "NUM_THREADS " + std::to_string(threads) + "\n");

  run_outputs out;
  out.run = run_command(torva_exe(), {c.project});
  for (const compared_file& f : c.files)
    out.texts.push_back(f.name == "stdout"             ? out.run.out
                        : fs::exists(dir.file(f.name)) ? read_file(dir.file(f.name))
                                                       : std::string("(no file written)"));
  return out;
}

std::vector<fs::path> case_folders() {
  std::vector<fs::path> folders;
  for (const fs::directory_entry& e :
       fs::directory_iterator(fs::path(TORVA_SOURCE_DIR) / "tests" / "cases"))
    if (e.is_directory() && fs::exists(e.path() / "case.txt")) folders.push_back(e.path());
  std::sort(folders.begin(), folders.end());
  return folders;
}

TEST(CaseFolders, EveryCaseMatchesItselfAcrossThreadCountsAndItsExpectedOutputs) {
  const std::vector<fs::path> folders = case_folders();
  ASSERT_FALSE(folders.empty()) << "no case folders found";
  const char* update = std::getenv("TORVA_UPDATE_EXPECTED");
  for (const fs::path& folder : folders) {
    const std::string name = folder.filename().string();
    SCOPED_TRACE("case " + name);
    const case_file c = read_case_file(folder / "case.txt");
    ASSERT_TRUE(c.fault.empty()) << c.fault;

    run_outputs one, eight;
    {
      temp_dir dir;
      one = run_case(folder, c, dir, 1);
    }
    {
      temp_dir dir;
      eight = run_case(folder, c, dir, 8);
    }
    EXPECT_EQ(one.run.status, 0) << one.run.out << one.run.err;
    EXPECT_EQ(eight.run.status, 0) << eight.run.out << eight.run.err;

    for (std::size_t k = 0; k < c.files.size(); ++k) {
      const compared_file& f = c.files[k];
      compare_tolerance exact;
      exact.skip_lines = f.tol.skip_lines;
      EXPECT_EQ(
          compare_texts(f.name + " (1 thread against 8)", one.texts[k], eight.texts[k], exact), "");
      const fs::path expected = folder / "expected" / f.name;
      if (update != nullptr && name == update) {
        fs::create_directories(expected.parent_path());
        write_file(expected.string(), one.texts[k]);
        continue;
      }
      ASSERT_TRUE(fs::exists(expected))
          << expected << " is missing: make update-expected CASE=" << name;
      EXPECT_EQ(compare_texts(f.name, read_file(expected.string()), one.texts[k], f.tol), "");
    }
  }
}

}  // namespace
