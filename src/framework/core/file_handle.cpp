// File handles and run file names: opening, closing and releasing the streams of a run with
// the check of the stream pointer's second copy, and the resolution of the names given in the
// project against the project folder, the output sub-directory and the run prefix.
#include "framework/core/file_handle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "framework/core/text_tokens.h"

char project_dir[1024] = {};
char output_dir[1024] = {};
int output_dir_set = 0;
int run_prefix_on = 0;
int run_number = 0;

file_handle superlink_flows_file;
file_handle r7_inflow_file;

namespace {

void check_pointer(const file_handle& h) {
  if (h.fp != h.fp_check)
    printf("\n\n\nError with the file %s. The file pointer is corrupt.\n\n\n\n", h.path);
}

void empty_handle(file_handle& h) {
  h.fp = nullptr;
  h.fp_check = nullptr;
  h.path[0] = '\0';
  h.mode[0] = '\0';
}

bool writes(const char* mode) {
  return mode[0] == 'w' || mode[0] == 'a';
}

// A project written on Windows names its files with backslashes; here they are slashes.
std::string with_slashes(std::string s) {
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

// Folder form: slashes, ending in a slash; an empty folder stays empty (no folder), so that a
// missing folder never turns names into paths from the filesystem root.
std::string folder_form(std::string s) {
  s = with_slashes(std::move(s));
  if (!s.empty() && s.back() != '/') s += '/';
  return s;
}

// Opens the candidate with the caller's mode and closes it at once.
bool probe(const std::string& path, const char* mode) {
  FILE* f = fopen(path.c_str(), mode);
  if (f == nullptr) return false;
  fclose(f);
  return true;
}

// Called once the process has moved into the output sub-directory: a relative project folder
// is made absolute against the working directory it was relative to, so that names resolved
// against it still reach the project.
void anchor_project_dir(const std::string& old_cwd) {
  if (project_dir[0] == '\0' || project_dir[0] == '/' || old_cwd.empty()) return;
  std::string anchored = old_cwd;
  if (anchored.back() != '/') anchored += '/';
  anchored += project_dir;
  if (anchored.size() < sizeof project_dir)
    copy_text(project_dir, sizeof project_dir, anchored.c_str());
}

std::string current_dir() {
  char buffer[4096];
  return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

}  // namespace

file_handle::~file_handle() {
  file_handle_release(*this);
}

void file_handle_init(file_handle& h) {
  empty_handle(h);
}

bool file_handle_open(file_handle& h, char* name, const char* mode) {
  check_pointer(h);
  if (name == nullptr || name[0] == '\0') return false;
  if (mode == nullptr || (mode[0] != 'w' && mode[0] != 'a' && mode[0] != 'r')) return false;
  if (h.fp != nullptr) {
    printf(
        "\n\nError!!!!!!! opening a file when the previous file was not closed.\n"
        "Original file: %s\nNew file: %s\n\n\n",
        h.path, name);
    // The old stream is closed so that it does not leak; the handle moves to the new file.
    fclose(h.fp);
    empty_handle(h);
  }
  char resolved[sizeof h.path];
  if (!make_run_filename(name, mode, resolved, sizeof resolved)) {
    // Refused rather than opened under a cut name.
    printf("Error.... name too long!!!\n\n\n");
    return false;
  }
  if (resolved[0] == '\0') return false;
  h.fp = fopen(resolved, mode);
  if (h.fp == nullptr) return false;
  h.fp_check = h.fp;
  copy_text(h.path, sizeof h.path, resolved);
  copy_text(h.mode, sizeof h.mode, mode);
  return true;
}

bool file_handle_open(file_handle& h, const char* name, const char* mode) {
  std::string copy = name != nullptr ? name : "";
  return file_handle_open(h, copy.data(), mode);
}

void file_handle_close(file_handle& h) {
  check_pointer(h);
  if (h.fp != nullptr) fclose(h.fp);
  empty_handle(h);
}

void file_handle_release(file_handle& h) {
  if (h.fp == nullptr) return;
  file_handle_close(h);
}

void set_project_dir(const char* dir, int len) {
  if (dir == nullptr) dir = "";
  const size_t n = len > 0 ? strnlen(dir, static_cast<size_t>(len)) : strlen(dir);
  copy_text(project_dir, sizeof project_dir, folder_form(std::string(dir, n)).c_str());
}

void set_output_dir(const char* dir) {
  copy_text(output_dir, sizeof output_dir, folder_form(dir != nullptr ? dir : "").c_str());
  output_dir_set = 1;
}

bool make_run_filename(char* name, const char* mode, char* out, unsigned long out_size) {
  if (out_size == 0) return false;
  out[0] = '\0';
  str_strip_quotes(name);
  if (name[0] == '\0') return true;
  const bool creating = writes(mode);
  std::string target = with_slashes(name);
  if (run_prefix_on && creating) {
    // The run prefix goes in front of the file's own name, not in front of its folders.
    const size_t slash = target.rfind('/');
    const size_t file_start = slash == std::string::npos ? 0 : slash + 1;
    char prefix[16];
    snprintf(prefix, sizeof prefix, "%04d_", run_number);
    target.insert(file_start, prefix);
  }
  const path_result result = resolve_file_path(project_dir, output_dir_set ? output_dir : "",
                                               target.c_str(), mode, creating, out, out_size);
  if (result == path_result::too_long) return false;
  if (result == path_result::not_found)
    printf("Error getting new filename from %s\n", target.c_str());
  return true;
}

path_result resolve_file_path(const char* project, const char* output, const char* name,
                              const char* mode, bool creating, char* out, unsigned long out_size) {
  out[0] = '\0';
  const std::string bare = with_slashes(name);
  const std::string output_copy = output != nullptr ? output : "";
  std::vector<std::string> tried;

  // Leaves the candidate in out and probes it; a candidate already probed is not probed again.
  auto attempt = [&](const std::string& candidate) -> int {
    if (candidate.size() + 1 > out_size) {
      out[0] = '\0';
      return -1;
    }
    copy_text(out, out_size, candidate.c_str());
    if (std::find(tried.begin(), tried.end(), candidate) != tried.end()) return 0;
    tried.push_back(candidate);
    return probe(candidate, mode) ? 1 : 0;
  };
  auto outcome = [](int r) { return r > 0 ? path_result::found : path_result::too_long; };

  if (creating) {
    const std::string sub = make_output_subdir(output_copy.c_str());
    const std::string proj = folder_form(project != nullptr ? project : "");
    for (const std::string& c : {proj + sub + bare, bare, proj + bare})
      if (const int r = attempt(c); r != 0) return outcome(r);
    return path_result::not_found;
  }

  if (const int r = attempt(bare); r != 0) return outcome(r);
  const std::string sub = make_output_subdir(output_copy.c_str());
  const std::string proj = folder_form(project != nullptr ? project : "");
  if (const int r = attempt(proj + sub + bare); r != 0) return outcome(r);
  // With the working directory moved into the output sub-directory, inputs named relative to
  // the project folder are still found there.
  if (!sub.empty())
    if (const int r = attempt(proj + bare); r != 0) return outcome(r);
  return path_result::not_found;
}

std::string make_output_subdir(const char* dir) {
  std::string out = with_slashes(dir != nullptr ? dir : "");
  const std::string proj = project_dir;
  if (proj.empty() || out.compare(0, proj.size(), proj) != 0) return out;
  out.erase(0, proj.size());
  const std::string full = proj + out;
  const std::string old_cwd = current_dir();
  if (chdir(full.c_str()) == 0) {
    anchor_project_dir(old_cwd);
  } else if (mkdir(full.c_str(), 0777) != 0) {
    out.clear();
  }
  set_output_dir(out.c_str());
  return folder_form(out);
}
