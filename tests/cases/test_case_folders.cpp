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
//   balance <summary> [<hydrograph> <interval minutes>]
//                                          the water books of the 1-thread run's summary must
//                                          close: its "mass conservation error", "Overall mass
//                                          balance error" and "Mass balance error of surface
//                                          components" lines print below 1e-6 percent; with a
//                                          six-digit outlet hydrograph written every interval
//                                          minutes, its discharges times the interval give the
//                                          printed volume of discharge within the rounding of
//                                          the hydrograph's values and of the printed volumes
//                                          (meaningful only when the hydrograph is written
//                                          every time step)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/numeric_compare.h"
#include "support/summary_reader.h"
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

// A summary whose water balance must close, with the six-digit outlet hydrograph whose volume
// must match its volume of discharge (hydrograph empty when none is named).
struct balance_check {
  std::string summary;
  std::string hydrograph;
  double interval_minutes = 0.0;
};

struct case_file {
  std::string project;
  std::vector<compared_file> files;
  std::vector<balance_check> balances;
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
    if (balance_check b; word == "balance" && words >> b.summary) {
      bool read = true;
      if (words >> b.hydrograph)
        read = static_cast<bool>(words >> b.interval_minutes) && b.interval_minutes > 0.0;
      std::string extra;
      if (read && !(words >> extra)) {
        c.balances.push_back(b);
        continue;
      }
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
  if (c.files.empty() && c.balances.empty()) c.fault = path.string() + ": nothing to compare";
  for (compared_file& f : c.files) f.tol.skip_lines = c.skip_lines;
  return c;
}

// The outputs of one run of a case: file name to contents ("stdout" the console).
struct run_outputs {
  command_result run;
  std::vector<std::string> texts;                   // in the order of the case's compared files
  std::vector<std::string> summaries, hydrographs;  // in the order of the balance checks
};

std::string written_text(const temp_dir& dir, const std::string& name) {
  return fs::exists(dir.file(name)) ? read_file(dir.file(name)) : std::string("(no file written)");
}

// Copies the case's inputs into the current (temporary) folder, sets the thread count with the
// project's own card and runs the project.
run_outputs run_case(const fs::path& folder, const case_file& c, const temp_dir& dir, int threads) {
  for (const fs::directory_entry& e : fs::directory_iterator(folder))
    if (e.is_regular_file() && e.path().filename() != "case.txt")
      fs::copy_file(e.path(), dir.file(e.path().filename().string()),
                    fs::copy_options::overwrite_existing);
  run_outputs out;
  out.run = torva_test::run_with_threads(c.project, threads);
  for (const compared_file& f : c.files)
    out.texts.push_back(f.name == "stdout" ? out.run.out : written_text(dir, f.name));
  for (const balance_check& b : c.balances) {
    out.summaries.push_back(written_text(dir, b.summary));
    out.hydrographs.push_back(b.hydrograph.empty() ? std::string()
                                                   : written_text(dir, b.hydrograph));
  }
  return out;
}

// True when a line of the text starts with the label.
bool has_line(const std::string& text, const std::string& label) {
  return text.rfind(label, 0) == 0 || text.find("\n" + label) != std::string::npos;
}

// What keeps the summary's water books from closing, empty when they close: each printed balance
// error below 1e-6 percent and, with a hydrograph, its volume equal to the printed volumes of
// discharge within the rounding of both.
std::string balance_faults(const balance_check& b, const std::string& summary,
                           const std::string& hydrograph) {
  std::ostringstream faults;
  faults.precision(10);
  const torva_test::summary_balance s = torva_test::read_summary_balance(summary);
  const struct {
    const char* label;
    double percent;
  } errors[] = {{"mass conservation error:", s.event_error_percent},
                {"Overall mass balance error =", s.run_overall_error},
                {"Mass balance error of surface components =", s.run_surface_error}};
  for (const auto& e : errors) {
    if (!has_line(summary, e.label))
      faults << b.summary << ": no \"" << e.label << "\" line\n";
    else if (!(std::fabs(e.percent) < 1e-6))
      faults << b.summary << ": \"" << e.label << "\" prints " << e.percent << " percent\n";
  }
  if (b.hydrograph.empty()) return faults.str();

  const double interval = b.interval_minutes * 60.0;
  const double lines = static_cast<double>(std::count(hydrograph.begin(), hydrograph.end(), '\n'));
  const double volume = torva_test::hydrograph_volume(hydrograph, interval);
  // Each discharge is printed to 1e-6 m3/s; the event volume to 0.1 m3, the run total to 0.01.
  const double rounding = lines * 0.5e-6 * interval;
  const struct {
    const char* label;
    double printed;
    double half_digit;
  } volumes[] = {{"volume of discharge:", s.event_discharge, 0.05},
                 {"Total amount of discharge=", s.run_discharge, 0.005}};
  for (const auto& v : volumes) {
    if (!has_line(summary, v.label))
      faults << b.summary << ": no \"" << v.label << "\" line\n";
    else if (!(std::fabs(volume - v.printed) <= v.half_digit + rounding))
      faults << b.hydrograph << " holds " << volume << " m3 over " << lines << " lines, "
             << b.summary << " prints \"" << v.label << "\" " << v.printed << " m3\n";
  }
  return faults.str();
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
    for (std::size_t k = 0; k < c.balances.size(); ++k)
      EXPECT_EQ(balance_faults(c.balances[k], one.summaries[k], one.hydrographs[k]), "");

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

TEST(CaseFolders, ABalanceStatementNamesASummaryAndMaybeAHydrographWithItsInterval) {
  const struct {
    const char* line;
    bool reads;
    const char* hydrograph;
    double interval;
  } cases[] = {
      {"balance s.out", true, "", 0.0},
      {"balance s.out h.out 0.5  # every 30 s", true, "h.out", 0.5},
      {"balance", false, "", 0.0},
      {"balance s.out h.out", false, "", 0.0},
      {"balance s.out h.out 0", false, "", 0.0},
      {"balance s.out h.out ten", false, "", 0.0},
      {"balance s.out h.out 1 more", false, "", 0.0},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.line);
    temp_dir dir;
    write_file(dir.file("case.txt"), std::string("project p.prj\n") + k.line + "\n");
    const case_file c = read_case_file(dir.file("case.txt"));
    EXPECT_EQ(c.fault.empty(), k.reads) << c.fault;
    if (!k.reads) continue;
    ASSERT_EQ(c.balances.size(), 1u);
    EXPECT_EQ(c.balances[0].summary, "s.out");
    EXPECT_EQ(c.balances[0].hydrograph, k.hydrograph);
    EXPECT_EQ(c.balances[0].interval_minutes, k.interval);
  }
}

// Replaces the first `from` in the text by `to`; the text unchanged when it does not hold it.
std::string edited(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(CaseFolders, TheBalanceCheckFindsABookThatDoesNotClose) {
  // The Green and Ampt case's books close, its hydrograph written every 10 s step.
  const fs::path folder = fs::path(TORVA_SOURCE_DIR) / "tests" / "cases" / "green_ampt";
  const std::string summary = read_file((folder / "expected" / "ga_summary.out").string());
  const std::string sig = read_file((folder / "expected" / "ga_outlet_sig.out").string());
  const balance_check check{"ga_summary.out", "ga_outlet_sig.out", 10.0 / 60.0};
  ASSERT_EQ(balance_faults(check, summary, sig), "");
  ASSERT_EQ(balance_faults({"ga_summary.out", "", 0.0}, summary, ""), "");

  const struct {
    const char* what;
    std::string summary, sig;
    const char* fault;  // a text the report must hold
  } cases[] = {
      {"an event error of 1e-6 percent",
       edited(summary, "mass conservation error:              0.000000",
              "mass conservation error:              0.000001"),
       sig, "\"mass conservation error:\" prints 1e-06"},
      {"a negative overall error",
       edited(summary, "Overall mass balance error =                              0.000000",
              "Overall mass balance error =                             -0.000003"),
       sig, "\"Overall mass balance error =\" prints -3e-06"},
      {"a surface error",
       edited(summary, "surface components =                0.000000",
              "surface components =                0.250000"),
       sig, "\"Mass balance error of surface components =\" prints 0.25"},
      {"no overall error line", edited(summary, "Overall mass balance error =", "Overall error ="),
       sig, "no \"Overall mass balance error =\" line"},
      {"a run discharge 0.01 m3 above the hydrograph",
       edited(summary, "Total amount of discharge=                               64.06",
              "Total amount of discharge=                               64.07"),
       sig, "\"Total amount of discharge=\" 64.07 m3"},
      {"an event discharge 0.2 m3 below the hydrograph",
       edited(summary, "volume of discharge:                      64.1",
              "volume of discharge:                      63.9"),
       sig, "\"volume of discharge:\" 63.9 m3"},
      {"a hydrograph value 2e-3 m3/s too high", summary,
       edited(sig, "   60.00     0.062215", "   60.00     0.064215"), "ga_outlet_sig.out holds"},
      {"a hydrograph that lost its last line", summary, edited(sig, "   60.00     0.062215\n", ""),
       "ga_outlet_sig.out holds"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    ASSERT_TRUE(k.summary != summary || k.sig != sig) << "the edit did not apply";
    EXPECT_NE(balance_faults(check, k.summary, k.sig).find(k.fault), std::string::npos)
        << balance_faults(check, k.summary, k.sig);
  }
}

}  // namespace
