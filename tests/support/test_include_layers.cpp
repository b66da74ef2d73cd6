// The layers of the source tree, checked on every build of the tests: no file includes a header
// of a layer above its own, so no include cycle between layers can appear.
//
// Layers, lowest first:
//   core      src/framework/core/: arrays, errors, file handles, text lines and tokens, dates,
//             solvers; includes nothing but the core
//   record    the state headers, exactly the files named *_state.h (the run's record
//             src/framework/model_state.h, the member records of the subsystems and the types
//             they hold): data only, they include only the core and other state headers
//   subsystem src/input, src/atmosphere, src/overland, src/channel, src/subsurface, src/output,
//             src/transport, src/calibration: include the core, the record, their own folder, and
//             another subsystem only through its step header (*_steps.h)
//   driver    src/run/ (entry, run driver, clock and events), the record's construction
//             (src/framework/model_state.cpp) and src/main.cpp: may include everything
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

enum class layer { core = 0, record = 1, subsystem = 2, driver = 3 };

const char* layer_name(layer l) {
  switch (l) {
    case layer::core:
      return "core";
    case layer::record:
      return "record";
    case layer::subsystem:
      return "subsystem";
    case layer::driver:
      return "driver";
  }
  return "?";
}

// Every source file under src/ (paths relative to src/) with the project headers it includes.
std::map<std::string, std::vector<std::string>> read_includes(const fs::path& src) {
  std::map<std::string, std::vector<std::string>> includes;
  const std::regex include_line(R"re(^\s*#\s*include\s*"([^"]+)")re");
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(src)) {
    if (!e.is_regular_file()) continue;
    const std::string ext = e.path().extension().string();
    if (ext != ".h" && ext != ".cpp") continue;
    const std::string name = fs::relative(e.path(), src).generic_string();
    std::ifstream in(e.path());
    std::string line;
    std::vector<std::string>& list = includes[name];
    std::smatch m;
    while (std::getline(in, line))
      if (std::regex_search(line, m, include_line)) list.push_back(m[1]);
  }
  return includes;
}

std::string folder_of(const std::string& path) {
  return path.substr(0, path.find('/'));
}

}  // namespace

TEST(IncludeLayers, NoFileIncludesAHeaderOfALayerAboveItsOwn) {
  const fs::path src = fs::path(TORVA_SOURCE_DIR) / "src";
  const std::map<std::string, std::vector<std::string>> includes = read_includes(src);
  ASSERT_TRUE(includes.count("framework/model_state.h")) << "the run's record is missing";

  // The record layer: exactly the state headers, named *_state.h.
  auto is_state_header = [](const std::string& f) {
    const std::string suffix = "_state.h";
    return f.size() > suffix.size() &&
           f.compare(f.size() - suffix.size(), suffix.size(), suffix) == 0;
  };

  auto layer_of = [&](const std::string& f) {
    if (f.rfind("framework/core/", 0) == 0) return layer::core;
    if (is_state_header(f)) return layer::record;
    if (f.rfind("run/", 0) == 0 || f.rfind("framework/", 0) == 0 || f == "main.cpp")
      return layer::driver;
    return layer::subsystem;
  };

  std::ostringstream faults;
  for (const auto& [file, list] : includes) {
    const layer own = layer_of(file);
    for (const std::string& h : list) {
      if (!includes.count(h)) {
        faults << file << " includes " << h << ", which is not a file under src/\n";
        continue;
      }
      const layer other = layer_of(h);
      bool wrong = other > own;
      if (own == layer::subsystem && other == layer::subsystem && folder_of(h) != folder_of(file) &&
          h.find("_steps.h") == std::string::npos)
        wrong = true;  // another subsystem is reached only through its step header
      if (wrong)
        faults << file << " (" << layer_name(own) << ") includes " << h << " (" << layer_name(other)
               << ")\n";
    }
  }
  EXPECT_EQ(faults.str(), "");
}
