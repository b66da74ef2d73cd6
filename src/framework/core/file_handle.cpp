// File handles and run file names: opening, closing and releasing the streams of a run with
// the check of the stream pointer's second copy, and the resolution of the names given in the
// project against the project folder, the output sub-directory and the run prefix.
#include "framework/core/file_handle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

#include "framework/core/error_state.h"
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
  h.write_failed = false;
  h.lines_read = 0;
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

// A file written afresh is made as a new file: an existing regular file of one link with data
// in it is removed, and the new file is created without truncating anything. Truncating a file
// in place has the file system free its blocks and flush the new data at close (ext4 does both,
// and a disk mounted with discard waits on the freed blocks); a calibration trial rewrites
// every output of the trial before it, and this took milliseconds a trial. A symbolic link, a
// device, a file of several links or one that cannot be removed is opened in place and
// truncated as before. `mode` is a writing mode of fopen ("w", "wb", "w+", ...).
FILE* open_afresh(const char* path, const char* mode) {
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_size > 0)
    unlink(path);
  // An empty regular file is opened for update from its start, which truncates nothing; a new
  // file is created by the writing mode itself (nothing to truncate either).
  if (lstat(path, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0) return fopen(path, mode);
  return fopen(path, strchr(mode, 'b') != nullptr ? "r+b" : "r+");
}

// The streams kept open between the trials of a calibration: a file a trial writes afresh (or
// appends to) is written afresh (appended to) by the next trial too, and making it anew every
// trial (removing the old file, creating the new one, the probe and the open each doing so) cost
// a trial more than its set-up did. A kept stream is closed by nothing but
// file_handle_close_kept_streams: the file stays the process's own, so emptying it in place
// frees its pages without the flush that closing a truncated file makes the file system start.
struct kept_stream {
  std::string path;  // the resolved path the stream was opened at
  std::string mode;  // its writing mode
  FILE* fp = nullptr;
  bool in_use = false;  // held by a handle (or a probe) now
  bool trim = false;    // written afresh over the last trial's bytes: those beyond go at close
};

// The inputs kept between the trials of a calibration: the bytes of a file a trial reads, with
// the identity of the file they were read from (device, inode, size, modification and change
// times). The next trial reads them from memory as long as the file at the path is still that
// file, unchanged; a file written, replaced or removed since is read from the disk again. The
// bytes are the file's own: parameter replacement acts on the lines as they are read, so a trial
// sees its own values whatever was kept.
struct kept_input {
  std::string path;   // the resolved path the file was read at
  struct stat id {};  // the file's identity when it was read
  std::string bytes;  // its whole content
  int readers = 0;    // streams open on the bytes now
};

struct kept_streams {
  bool on = false;
  long session = 0;  // keepings begun in the process
  std::vector<kept_stream> streams;
  std::vector<kept_stream> held_at_end;  // streams a handle held when the keeping ended
  std::vector<std::unique_ptr<kept_input>> inputs;
  std::vector<std::pair<FILE*, kept_input*>> input_streams;  // open streams on kept bytes
  std::size_t input_bytes = 0;                               // bytes of all kept inputs
  // The kept input the name probe of the open under way found unchanged just now: the open
  // takes it without asking for the file's identity again. Cleared at every open's start.
  kept_input* probed = nullptr;
};

// Inputs are kept up to this many bytes in all; a larger project reads the rest from disk.
constexpr std::size_t kept_input_budget = std::size_t{256} << 20;

kept_streams& kept() {
  static kept_streams k;
  return k;
}

kept_stream* kept_by_stream(FILE* fp) {
  for (kept_stream& s : kept().streams)
    if (s.fp == fp) return &s;
  return nullptr;
}

// Cuts the file of a stream written afresh at the stream's position, its end as written so far:
// the bytes of the trial before beyond it go. Flushes first; 0, or the system's reason (the cut
// is then tried again at the close). The trials' writers only ever write on at the end.
int trim_stream(kept_stream& s) {
  if (fflush(s.fp) != 0) return errno != 0 ? errno : EIO;
  const off_t end = ftello(s.fp);
  struct stat st {};
  if (end < 0 || fstat(fileno(s.fp), &st) != 0) return errno != 0 ? errno : EIO;
  if (st.st_size > end && ftruncate(fileno(s.fp), end) != 0) return errno != 0 ? errno : EIO;
  s.trim = false;
  return 0;
}

// Before `path` is opened again (to read it, append to it or write it from another handle), a
// kept stream writing it afresh that a handle holds cuts the file at what it wrote so far, so
// that the file is what it would be had the stream emptied it at its open.
void trim_before_open(const char* path) {
  kept_streams& k = kept();
  for (std::vector<kept_stream>* list : {&k.streams, &k.held_at_end})
    for (kept_stream& s : *list)
      if (s.trim && s.in_use && s.path == path) trim_stream(s);
}

// The kept stream of `path` for `mode`, taken for a new trial: rewound for a file written
// afresh, at its end for one appended to. Null when there is none or the file at `path` is no
// longer the one the stream writes (removed, replaced or linked since). A file written afresh
// is not emptied here: it is cut at its close where its new content ends, which leaves alone
// the pages the new content writes over (a trial writes as much as the one before, mostly),
// where emptying it freed them all and took them anew.
FILE* reuse_kept(const char* path, const char* mode) {
  std::vector<kept_stream>& all = kept().streams;
  for (std::size_t i = 0; i < all.size(); ++i) {
    kept_stream& s = all[i];
    if (s.in_use || s.path != path || s.mode != mode) continue;
    struct stat named {
    }, held{};
    const bool same = lstat(path, &named) == 0 && fstat(fileno(s.fp), &held) == 0 &&
                      named.st_dev == held.st_dev && named.st_ino == held.st_ino &&
                      held.st_nlink == 1;
    const bool ready = same && fseek(s.fp, 0, mode[0] == 'w' ? SEEK_SET : SEEK_END) == 0;
    if (!ready) {
      fclose(s.fp);
      all.erase(all.begin() + static_cast<long>(i));
      return nullptr;
    }
    clearerr(s.fp);
    s.in_use = true;
    s.trim = mode[0] == 'w';
    return s.fp;
  }
  return nullptr;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// A file changed within this many nanoseconds is not kept: a change is stamped with the
// kernel's clock as of its last tick, so a file written again within the same tick as its
// last change can keep its times; once its change time is older than any tick, a later change
// moves the time and is seen.
constexpr long long settled_nanoseconds = 50'000'000;

bool settled(const struct stat& st) {
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
  const long long age = (static_cast<long long>(now.tv_sec) - st.st_ctim.tv_sec) * 1'000'000'000LL +
                        (now.tv_nsec - st.st_ctim.tv_nsec);
  return age >= settled_nanoseconds;
}

kept_input* find_input(const char* path) {
  for (const std::unique_ptr<kept_input>& in : kept().inputs)
    if (in->path == path) return in.get();
  return nullptr;
}

// The kept bytes of the regular file at `path` as it is now: those of the trial before when
// the file is unchanged, else read afresh (and kept when the budget allows). Null for a file
// that is not there, not a regular file, empty, changed a moment ago, or that cannot be read
// whole; it is then opened from the disk as ever.
kept_input* current_input(const char* path) {
  struct stat now {};
  if (stat(path, &now) != 0 || !S_ISREG(now.st_mode) || now.st_size <= 0) return nullptr;
  kept_input* in = find_input(path);
  if (in != nullptr && same_file(in->id, now)) return in;
  if (!settled(now)) return nullptr;
  // A changed file whose old bytes a stream still reads is read from the disk this time.
  if (in != nullptr && in->readers > 0) return nullptr;
  kept_streams& k = kept();
  const std::size_t size = static_cast<std::size_t>(now.st_size);
  const std::size_t others = k.input_bytes - (in != nullptr ? in->bytes.size() : 0);
  if (others + size > kept_input_budget) return nullptr;
  FILE* f = fopen(path, "r");
  if (f == nullptr) return nullptr;
  std::string bytes(size, '\0');
  struct stat after {};
  const bool whole = fread(bytes.data(), 1, size, f) == size && fgetc(f) == EOF &&
                     fstat(fileno(f), &after) == 0 && same_file(after, now);
  fclose(f);
  if (!whole) return nullptr;
  if (in == nullptr) {
    k.inputs.push_back(std::make_unique<kept_input>());
    in = k.inputs.back().get();
    in->path = path;
  }
  k.input_bytes = others + size;
  in->id = now;
  in->bytes = std::move(bytes);
  return in;
}

// A file opened to read while inputs are kept: a stream on its kept bytes.
FILE* open_to_read(const char* path, const char* mode) {
  if (!kept().on || strchr(mode, '+') != nullptr) return fopen(path, mode);
  kept_streams& k = kept();
  kept_input* in = k.probed != nullptr && k.probed->path == path ? k.probed : current_input(path);
  k.probed = nullptr;
  if (in == nullptr) return fopen(path, mode);
  FILE* fp = fmemopen(in->bytes.data(), in->bytes.size(), "r");
  if (fp == nullptr) return fopen(path, mode);
  ++in->readers;
  kept().input_streams.emplace_back(fp, in);
  return fp;
}

// Closes a stream on kept bytes; false when `fp` is not one. The bytes of a file no longer
// kept (the calibration ended) go with their last reader.
bool close_input_stream(FILE* fp) {
  kept_streams& k = kept();
  for (std::size_t i = 0; i < k.input_streams.size(); ++i) {
    if (k.input_streams[i].first != fp) continue;
    kept_input* in = k.input_streams[i].second;
    k.input_streams.erase(k.input_streams.begin() + static_cast<long>(i));
    fclose(fp);
    if (--in->readers == 0 && !k.on) {
      for (std::size_t j = 0; j < k.inputs.size(); ++j)
        if (k.inputs[j].get() == in) {
          k.input_bytes -= in->bytes.size();
          k.inputs.erase(k.inputs.begin() + static_cast<long>(j));
          break;
        }
    }
    return true;
  }
  return false;
}

// True when a kept stream of `path` for `mode` waits for its next trial.
bool kept_waiting(const std::string& path, const char* mode) {
  for (const kept_stream& s : kept().streams)
    if (!s.in_use && s.path == path && s.mode == mode) return true;
  return false;
}

// A file opened to write afresh or to append. While streams are kept, the stream of the trial
// before is used again when it still writes the file; a new one is made and kept otherwise.
FILE* open_to_write(const char* path, const char* mode) {
  if (!kept().on) return mode[0] == 'w' ? open_afresh(path, mode) : fopen(path, mode);
  if (FILE* fp = reuse_kept(path, mode)) return fp;
  FILE* fp = mode[0] == 'w' ? open_afresh(path, mode) : fopen(path, mode);
  struct stat st {};
  if (fp != nullptr && fstat(fileno(fp), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1)
    kept().streams.push_back(kept_stream{path, mode, fp, true});
  return fp;
}

FILE* open_stream(const char* path, const char* mode) {
  trim_before_open(path);
  return writes(mode) ? open_to_write(path, mode) : open_to_read(path, mode);
}

// Closes a stream, or hands a kept one back (flushed) for the next trial: 0, or EOF when the
// flush or the close failed.
int close_stream(FILE* fp) {
  kept_streams& k = kept();
  if (!k.input_streams.empty() && close_input_stream(fp)) return 0;
  for (std::size_t i = 0; i < k.held_at_end.size(); ++i) {
    if (k.held_at_end[i].fp != fp) continue;
    kept_stream s = k.held_at_end[i];
    k.held_at_end.erase(k.held_at_end.begin() + static_cast<long>(i));
    const int reason = s.trim ? trim_stream(s) : 0;
    const int closed = fclose(fp);
    if (reason != 0) errno = reason;
    return reason != 0 ? EOF : closed;
  }
  kept_stream* s = kept_by_stream(fp);
  if (s == nullptr) return fclose(fp);
  s->in_use = false;
  if (!s->trim) return fflush(fp);
  const int reason = trim_stream(*s);
  if (reason != 0) errno = reason;
  return reason != 0 ? EOF : 0;
}

// Opens the candidate with the caller's mode and closes it at once; a candidate whose kept
// stream waits for it opened before and is taken as it is.
bool probe(const std::string& path, const char* mode) {
  if (kept().on && kept_waiting(path, mode)) return true;
  if (kept().on && !writes(mode) && strchr(mode, '+') == nullptr) {
    if (kept_input* in = current_input(path.c_str())) {
      kept().probed = in;
      return true;
    }
  }
  FILE* f = open_stream(path.c_str(), mode);
  if (f == nullptr) return false;
  close_stream(f);
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

// Flushes a stream that writes; the system's reason (errno) when a write to it failed, else 0.
// A write that failed before the flush (a line-buffered stream writes each line as it is
// printed, and drops it when the write fails) leaves the error flag and its reason in errno,
// which the checks read right after the step's writes; without a reason there it is an
// input/output error.
int flush_failure(FILE* fp) {
  const int earlier = errno;
  errno = 0;
  if (fflush(fp) != 0) return errno != 0 ? errno : EIO;
  // A sound stream leaves errno as it found it, for the check of the next stream.
  errno = earlier;
  if (ferror(fp) == 0) return 0;
  return earlier != 0 ? earlier : EIO;
}

// Names the file and the reason, and stops the run. The summary no longer echoes messages once
// its own stream is the one that failed.
void report_write_failure(const file_handle& h, const char* path, int reason) {
  if (error_echo_file == &h) error_echo_file = nullptr;
  stop_with_message("Error: could not write the file %s: %s\n", path, strerror(reason));
}

// The output sub-directory that make_output_subdir would give, without making it or moving into
// it.
std::string planned_output_subdir() {
  std::string out = with_slashes(output_dir_set ? output_dir : "");
  const std::string proj = project_dir;
  if (!proj.empty() && out.compare(0, proj.size(), proj) == 0) out.erase(0, proj.size());
  return folder_form(out);
}

// The folder part of a path ("." for a bare file name) and its file name.
std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string file_name_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The key of planned_file_key for a path whose folder exists; empty when it does not.
std::string file_key(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0)
    return "id:" + std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(st.st_ino));
  char real[PATH_MAX];
  if (realpath(folder_of(path).c_str(), real) == nullptr) return std::string();
  return std::string("path:") + real + "/" + file_name_of(path);
}

// True when opening `path` to write would succeed as far as the file system says: the file is
// there and writable, or its folder is there and lets files be made in it.
bool writable(const std::string& path) {
  if (access(path.c_str(), F_OK) == 0) return access(path.c_str(), W_OK) == 0;
  return access(folder_of(path).c_str(), W_OK | X_OK) == 0;
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
    close_stream(h.fp);
    empty_handle(h);
  }
  kept().probed = nullptr;
  char resolved[sizeof h.path];
  if (!make_run_filename(name, mode, resolved, sizeof resolved)) {
    // Refused rather than opened under a cut name.
    printf("Error.... name too long!!!\n\n\n");
    return false;
  }
  if (resolved[0] == '\0') return false;
  h.fp = open_stream(resolved, mode);
  if (h.fp == nullptr) return false;
  h.fp_check = h.fp;
  h.write_failed = false;
  h.lines_read = 0;
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
  if (h.fp == nullptr) {
    empty_handle(h);
    return;
  }
  const bool check = writes(h.mode) && !h.write_failed;
  int reason = check ? flush_failure(h.fp) : 0;
  errno = 0;
  if (close_stream(h.fp) != 0 && check && reason == 0) reason = errno != 0 ? errno : EIO;
  if (reason == 0) {
    empty_handle(h);
    return;
  }
  const std::string path = h.path;
  empty_handle(h);
  report_write_failure(h, path.c_str(), reason);
}

bool file_handle_write_check(file_handle& h) {
  if (h.fp == nullptr || !writes(h.mode)) return true;
  if (h.write_failed) return false;
  const int reason = flush_failure(h.fp);
  if (reason == 0) return true;
  h.write_failed = true;
  report_write_failure(h, h.path, reason);
  return false;
}

void file_handle_line_buffered(file_handle& h) {
  if (h.fp != nullptr) setvbuf(h.fp, nullptr, _IOLBF, 0);
}

void file_handle_release(file_handle& h) {
  if (h.fp == nullptr) return;
  file_handle_close(h);
}

void file_handle_keep_streams() {
  if (!kept().on) ++kept().session;
  kept().on = true;
}

long file_handle_kept_session() {
  return kept().on ? kept().session : 0;
}

void file_handle_close_kept_streams() {
  kept_streams& k = kept();
  k.on = false;
  k.probed = nullptr;
  std::vector<kept_stream> all;
  all.swap(k.streams);
  // Kept inputs go, but for those a stream still reads: they go with its close.
  std::vector<std::unique_ptr<kept_input>> read_now;
  for (std::unique_ptr<kept_input>& in : k.inputs)
    if (in->readers > 0) read_now.push_back(std::move(in));
  k.inputs.swap(read_now);
  k.input_bytes = 0;
  for (const std::unique_ptr<kept_input>& in : k.inputs) k.input_bytes += in->bytes.size();
  // A stream a handle still holds is closed by its handle, as any other (and cut there).
  for (kept_stream& s : all) {
    if (s.in_use) {
      k.held_at_end.push_back(s);
      continue;
    }
    errno = 0;
    if (fclose(s.fp) != 0)
      stop_with_message("Error: could not write the file %s: %s\n", s.path.c_str(),
                        strerror(errno != 0 ? errno : EIO));
  }
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

std::string planned_file_key(const char* name, bool creating) {
  std::string target = name != nullptr ? name : "";
  str_strip_quotes(target);
  target = with_slashes(target);
  if (target.empty()) return std::string();
  if (run_prefix_on && creating) {
    const size_t slash = target.rfind('/');
    char prefix[16];
    snprintf(prefix, sizeof prefix, "%04d_", run_number);
    target.insert(slash == std::string::npos ? 0 : slash + 1, prefix);
  }
  const std::string proj = folder_form(project_dir);
  const std::string sub = planned_output_subdir();
  std::vector<std::string> candidates;
  if (creating)
    candidates = {proj + sub + target, target, proj + target};
  else if (sub.empty())
    candidates = {target, proj + target};
  else
    candidates = {target, proj + sub + target, proj + target};
  for (const std::string& c : candidates) {
    const bool usable = creating ? writable(c) : access(c.c_str(), F_OK) == 0;
    if (usable) return file_key(c);
  }
  return std::string();
}

bool make_output_folders(const char* name) {
  std::string target = with_slashes(name != nullptr ? name : "");
  const size_t last = target.rfind('/');
  if (last == std::string::npos || last == 0) return true;
  const std::string base =
      target.front() == '/'
          ? std::string()
          : folder_form(project_dir) + make_output_subdir(output_dir_set ? output_dir : "");
  const std::string folder = base + target.substr(0, last);
  // Each level from the top, so that a missing parent is made before its child.
  for (size_t at = base.size() + 1; at <= folder.size(); ++at) {
    if (at < folder.size() && folder[at] != '/') continue;
    const std::string level = folder.substr(0, at);
    if (level.empty() || level.back() == '/') continue;
    mkdir(level.c_str(), 0777);
  }
  struct stat st {};
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
