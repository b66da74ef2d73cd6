// File handles and run file names: opening, closing and releasing the streams of a run with
// the check of the stream pointer's second copy, and the resolution of the names given in the
// project against the project folder, the output sub-directory and the run prefix.
#include "framework/file_handle.h"

#include <cstring>

#include "framework/text_tokens.h"

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

bool writes(const char* mode) { return mode[0] == 'w' || mode[0] == 'a'; }

}  // namespace

file_handle::~file_handle() { file_handle_release(*this); }

void file_handle_init(file_handle& h) { empty_handle(h); }

bool file_handle_open(file_handle& h, char* name, const char* mode) {
  check_pointer(h);
  if (name == nullptr || name[0] == '\0') return false;
  if (mode == nullptr || (mode[0] != 'w' && mode[0] != 'a' && mode[0] != 'r')) return false;
  if (h.fp != nullptr) {
    printf("\n\nError!!!!!!! opening a file when the previous file was not closed.\n"
           "Original file: %s\nNew file: %s\n\n\n",
           h.path, name);
    // The old stream is closed so that it does not leak; the handle moves to the new file.
    fclose(h.fp);
    empty_handle(h);
  }
  char resolved[1024];
  if (!make_run_filename(name, mode, resolved, sizeof resolved)) {
    printf("Error.... name too long!!!\n\n\n");
    return false;
  }
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
  std::string d(dir, len > 0 ? static_cast<size_t>(len) : strlen(dir));
  if (d.empty() || (d.back() != '/' && d.back() != '\\')) d += '/';
  copy_text(project_dir, sizeof project_dir, d.c_str());
}

void set_output_dir(const char* dir) {
  std::string d = dir != nullptr ? dir : "";
  if (d.empty() || (d.back() != '/' && d.back() != '\\')) d += '/';
  copy_text(output_dir, sizeof output_dir, d.c_str());
  output_dir_set = 1;
}

bool make_run_filename(char* name, const char* mode, char* out, unsigned long out_size) {
  out[0] = '\0';
  str_strip_quotes(name);
  if (name[0] == '\0') return true;
  std::string target = name;
  if (run_prefix_on && writes(mode)) {
    // The run prefix goes in front of the file's own name, not in front of its folders.
    const char* slash = strrchr(name, '/');
    const char* back = strrchr(name, '\\');
    const char* last = slash > back ? slash : back;
    const size_t folder = last != nullptr ? static_cast<size_t>(last - name) + 1 : 0;
    char prefix[16];
    snprintf(prefix, sizeof prefix, "%04d_", run_number);
    target.insert(folder, prefix);
  }
  if (!resolve_file_path(project_dir, output_dir_set ? output_dir : "", target.c_str(), mode,
                         writes(mode), out, out_size)) {
    if (out[0] == '\0') return false;
    printf("Error getting new filename from %s\n", target.c_str());
  }
  return true;
}

bool resolve_file_path(const char*, const char*, const char* name, const char*, bool, char* out,
                       unsigned long out_size) {
  return copy_text(out, out_size, name);
}

void make_output_subdir(const char* dir, char* out, unsigned long out_size) {
  copy_text(out, out_size, dir);
}
