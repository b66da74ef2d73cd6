// Tests of the file handles and the run file names: open, close and release with the pointer
// check, the re-open warning, quotes, the run prefix, the project folder and the output
// sub-directory, names written with backslashes, and names too long to store.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "framework/core/file_handle.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using torva_test::file_exists;
using torva_test::read_file;
using torva_test::stdout_capture;
using torva_test::write_file;

namespace {

// Open file descriptors of the process: a stream left open by a probe or a re-open shows here.
int open_descriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

std::string cwd() {
  return fs::current_path().string();
}

std::string backslashed(std::string s) {
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

// Every test runs in a fresh temporary folder (which is also the working directory) with the
// process-wide name state cleared; the state and the working directory are restored after.
class FileHandleTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = dir_.path(); }
  void TearDown() override {
    fs::current_path(root_);  // temp_dir then goes back to where the test started
  }

  torva_test::process_state_guard process_state_;  // destroyed after the folder
  torva_test::temp_dir dir_;
  std::string root_;
};

class FileHandleOpen : public FileHandleTest {};
class FileHandleNames : public FileHandleTest {};
class FileHandleFolders : public FileHandleTest {};

}  // namespace

TEST_F(FileHandleOpen, OpenWriteCloseAndReadBack) {
  const int baseline = open_descriptors();
  file_handle h;
  EXPECT_FALSE(h.is_open());
  stdout_capture out;
  ASSERT_TRUE(file_handle_open(h, "q.out", "w"));
  EXPECT_NE(h.fp, nullptr);
  EXPECT_EQ(h.fp, h.fp_check);
  EXPECT_STREQ(h.path, "q.out");
  EXPECT_STREQ(h.mode, "w");
  fputs("flow 1.5\n", h.fp);
  file_handle_close(h);
  EXPECT_EQ(h.fp, nullptr);
  EXPECT_EQ(h.fp_check, nullptr);
  EXPECT_STREQ(h.path, "");
  EXPECT_STREQ(h.mode, "");
  EXPECT_EQ(read_file("q.out"), "flow 1.5\n");

  ASSERT_TRUE(file_handle_open(h, "q.out", "a"));
  fputs("flow 2.5\n", h.fp);
  file_handle_release(h);
  EXPECT_FALSE(h.is_open());
  EXPECT_EQ(read_file("q.out"), "flow 1.5\nflow 2.5\n");

  // Closing or releasing a closed handle is quiet and leaves it empty.
  file_handle_close(h);
  file_handle_release(h);
  EXPECT_EQ(out.stop(), "");
  EXPECT_EQ(h.fp, nullptr);
  EXPECT_EQ(open_descriptors(), baseline);

  {
    file_handle scoped;
    ASSERT_TRUE(file_handle_open(scoped, "q.out", "r"));
    EXPECT_EQ(open_descriptors(), baseline + 1);
  }
  EXPECT_EQ(open_descriptors(), baseline);  // the destructor released it
}

// Writing a file that exists replaces its whole content, whatever it is: a regular file is made
// anew (a reader that still holds the old file keeps reading the old content), a file of two
// links and a symbolic link are written in place, so the other name and the link's target show
// the new content.
TEST_F(FileHandleOpen, WritingAnExistingFileReplacesItsContent) {
  struct rewrite_case {
    const char* what;
    bool hard_link, symbolic_link;
    const char* other_name_reads;  // what the other name (link or target) holds afterwards
  };
  const rewrite_case cases[] = {
      {"a regular file", false, false, nullptr},
      {"a file of two links", true, false, "new"},
      {"a symbolic link", false, true, "new"},
  };
  for (const rewrite_case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all("out.txt");
    fs::remove_all("other.txt");
    write_file(c.symbolic_link ? "other.txt" : "out.txt", "old content, longer than the new\n");
    if (c.hard_link) fs::create_hard_link("out.txt", "other.txt");
    if (c.symbolic_link) fs::create_symlink("other.txt", "out.txt");
    FILE* held = fopen("out.txt", "r");
    ASSERT_NE(held, nullptr);
    file_handle h;
    ASSERT_TRUE(file_handle_open(h, "out.txt", "w"));
    fputs("new", h.fp);
    file_handle_close(h);
    EXPECT_EQ(read_file("out.txt"), "new");
    if (c.other_name_reads != nullptr) {
      EXPECT_EQ(read_file("other.txt"), c.other_name_reads);
    }
    EXPECT_EQ(fs::is_symlink("out.txt"), c.symbolic_link);
    char seen[64] = {};
    const size_t n = fread(seen, 1, sizeof seen - 1, held);
    fclose(held);
    // The old file is gone from the folder but not from its reader; one written in place reads
    // what was written.
    EXPECT_EQ(std::string(seen, n), c.other_name_reads == nullptr
                                        ? "old content, longer than the new\n"
                                        : std::string("new"));
  }
}

// While streams are kept (the trials of a calibration), a file written afresh again holds only
// what the last writer wrote, whatever the file held before and whatever happened to it between
// the writers: left alone (its kept stream is emptied and used again), removed, replaced by
// another file, or given a second link (the other name then shows the new content, as when the
// file is written afresh without kept streams). Closing the kept streams leaves no descriptor
// open.
TEST_F(FileHandleOpen, KeptStreamsWriteEachTrialsFileAfresh) {
  struct between_case {
    const char* what;
    void (*between)();             // done to the file after the first writer closed it
    bool same_file;                // the second writer writes the file the first one made
    const char* other_name_reads;  // what "other.txt" holds at the end, when it is there
  };
  const between_case cases[] = {
      {"left alone", [] {}, true, nullptr},
      {"removed", [] { fs::remove("out.txt"); }, false, nullptr},
      {"replaced",
       [] {
         write_file("new.txt", "a file put in its place, longer than either trial's\n");
         fs::rename("new.txt", "out.txt");
       },
       false, nullptr},
      {"linked", [] { fs::create_hard_link("out.txt", "other.txt"); }, true, "short"},
  };
  const int baseline = open_descriptors();
  for (const between_case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all("out.txt");
    fs::remove_all("other.txt");
    file_handle_keep_streams();
    file_handle h;
    ASSERT_TRUE(file_handle_open(h, "out.txt", "w"));
    fputs("the first trial's longer content\n", h.fp);
    file_handle_close(h);
    EXPECT_EQ(read_file("out.txt"), "the first trial's longer content\n");
    struct stat before {};
    ASSERT_EQ(stat("out.txt", &before), 0);
    c.between();
    ASSERT_TRUE(file_handle_open(h, "out.txt", "w"));
    fputs("short", h.fp);
    file_handle_close(h);
    EXPECT_EQ(read_file("out.txt"), "short");
    struct stat after {};
    ASSERT_EQ(stat("out.txt", &after), 0);
    if (c.same_file) {
      EXPECT_EQ(after.st_ino, before.st_ino);
    }
    if (c.other_name_reads != nullptr) {
      EXPECT_EQ(read_file("other.txt"), c.other_name_reads);
    }
    // A third writer after the kept streams are closed makes the file anew, as ever.
    file_handle_close_kept_streams();
    EXPECT_EQ(open_descriptors(), baseline);
    ASSERT_TRUE(file_handle_open(h, "out.txt", "w"));
    fputs("third", h.fp);
    file_handle_close(h);
    EXPECT_EQ(read_file("out.txt"), "third");
    EXPECT_EQ(open_descriptors(), baseline);
  }
}

// A kept stream opened to append goes on at the file's end, its own writes and those of any
// other writer kept; a file replaced between the writers is appended to, not the old one.
TEST_F(FileHandleOpen, KeptStreamsAppendAtTheEndOfTheFileAsItIsNow) {
  struct append_case {
    const char* what;
    void (*between)();
    const char* reads;
  };
  const append_case cases[] = {
      {"left alone", [] {}, "first\nsecond\n"},
      {"appended to by another writer",
       [] {
         FILE* f = fopen("log.txt", "a");
         ASSERT_NE(f, nullptr);
         fputs("other\n", f);
         fclose(f);
       },
       "first\nother\nsecond\n"},
      {"replaced",
       [] {
         write_file("new.txt", "replacement\n");
         fs::rename("new.txt", "log.txt");
       },
       "replacement\nsecond\n"},
  };
  const int baseline = open_descriptors();
  for (const append_case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all("log.txt");
    file_handle_keep_streams();
    file_handle h;
    ASSERT_TRUE(file_handle_open(h, "log.txt", "a"));
    fputs("first\n", h.fp);
    file_handle_close(h);
    c.between();
    ASSERT_TRUE(file_handle_open(h, "log.txt", "a"));
    fputs("second\n", h.fp);
    file_handle_close(h);
    EXPECT_EQ(read_file("log.txt"), c.reads);
    file_handle_close_kept_streams();
    EXPECT_EQ(open_descriptors(), baseline);
  }
}

// A kept stream a handle still holds when the kept streams are closed stays the handle's: it
// writes on and its close closes it.
TEST_F(FileHandleOpen, AKeptStreamStillHeldIsClosedByItsHandle) {
  const int baseline = open_descriptors();
  file_handle_keep_streams();
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, "held.txt", "w"));
  file_handle_close_kept_streams();
  EXPECT_EQ(open_descriptors(), baseline + 1);
  fputs("still written", h.fp);
  file_handle_close(h);
  EXPECT_EQ(read_file("held.txt"), "still written");
  EXPECT_EQ(open_descriptors(), baseline);
}

// A kept stream written afresh over the longer file of the trial before leaves the file holding
// what it wrote and nothing of the trial before, whenever the file is looked at: at its close,
// read by another handle while it writes, and closed after the keeping ended.
TEST_F(FileHandleOpen, AKeptFileWrittenAfreshHoldsNothingOfTheTrialBefore) {
  struct look_case {
    const char* what;
    const char* second;  // what the second trial writes
    bool read_while_held;
    bool keeping_ends_while_held;
  };
  const look_case cases[] = {
      {"shorter, closed", "short\n", false, false},
      {"same length, closed", "THE FIRST TRIAL'S LONGER CONTENT\n", false, false},
      {"longer, closed", "the second trial's content, longer than the first's\n", false, false},
      {"shorter, read while held", "short\n", true, false},
      {"shorter, keeping ended while held", "short\n", false, true},
      {"nothing, read while held", "", true, true},
  };
  const int baseline = open_descriptors();
  for (const look_case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all("out.txt");
    file_handle_keep_streams();
    file_handle h;
    ASSERT_TRUE(file_handle_open(h, "out.txt", "w"));
    fputs("the first trial's longer content\n", h.fp);
    file_handle_close(h);
    ASSERT_TRUE(file_handle_open(h, "out.txt", "w"));
    fputs(c.second, h.fp);
    if (c.read_while_held) {
      file_handle r;
      ASSERT_TRUE(file_handle_open(r, "out.txt", "r"));
      char buf[128] = {};
      const std::size_t got = fread(buf, 1, sizeof buf - 1, r.fp);
      EXPECT_EQ(std::string(buf, got), c.second);
      file_handle_close(r);
    }
    if (c.keeping_ends_while_held) file_handle_close_kept_streams();
    fputs("end\n", h.fp);
    file_handle_close(h);
    EXPECT_EQ(read_file("out.txt"), std::string(c.second) + "end\n");
    file_handle_close_kept_streams();
    EXPECT_EQ(open_descriptors(), baseline);
  }
}

// The whole text a handle opened to read gives, read with fgets as the readers do.
std::string read_through(file_handle& h) {
  std::string text;
  char buf[64];
  while (fgets(buf, sizeof buf, h.fp) != nullptr) text += buf;
  return text;
}

// Files read while streams are kept are read from memory while they are unchanged, and from
// the disk again once they change in any way, even to the same size within the same second.
TEST_F(FileHandleOpen, KeptInputsAreReadAgainOnceTheFileChanges) {
  struct change_case {
    const char* name;
    void (*change)(const char* name);  // done to the file between the two trials
    const char* reads;                 // what the second trial reads; null: the open fails
  };
  const change_case cases[] = {
      {"alone.txt", [](const char*) {}, "first 1\nsecond\n"},
      {"same_size.txt",
       [](const char* n) {
         FILE* f = fopen(n, "r+");
         ASSERT_NE(f, nullptr);
         fputs("FIRST 2", f);
         fclose(f);
       },
       "FIRST 2\nsecond\n"},
      {"longer.txt",
       [](const char* n) {
         FILE* f = fopen(n, "a");
         ASSERT_NE(f, nullptr);
         fputs("third\n", f);
         fclose(f);
       },
       "first 3\nsecond\nthird\n"},
      {"replaced.txt",
       [](const char* n) {
         write_file("new.txt", "other 4\nsecond\n");
         fs::rename("new.txt", n);
       },
       "other 4\nsecond\n"},
      {"removed.txt", [](const char* n) { fs::remove(n); }, nullptr},
  };
  int k = 0;
  for (const change_case& c : cases)
    write_file(c.name, "first " + std::to_string(++k) + "\nsecond\n");
  // Files changed a moment ago are read from the disk: the inputs of the test age first.
  usleep(60'000);
  const int baseline = open_descriptors();
  file_handle_keep_streams();
  std::vector<std::string> first;
  for (const change_case& c : cases) {
    file_handle h;
    ASSERT_TRUE(file_handle_open(h, c.name, "r")) << c.name;
    first.push_back(read_through(h));
    file_handle_close(h);
  }
  // A kept file is read without a descriptor of the file held open.
  {
    file_handle h;
    ASSERT_TRUE(file_handle_open(h, "alone.txt", "r"));
    EXPECT_EQ(open_descriptors(), baseline);
    EXPECT_EQ(read_through(h), "first 1\nsecond\n");
    rewind(h.fp);
    EXPECT_EQ(read_through(h), "first 1\nsecond\n");
    file_handle_close(h);
  }
  for (const change_case& c : cases) c.change(c.name);
  // Once more after the changes have aged (a change is then no longer within the clock's tick
  // of the read before), and at once after them.
  for (const int wait : {0, 60'000}) {
    usleep(static_cast<useconds_t>(wait));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
      const change_case& c = cases[i];
      SCOPED_TRACE(std::string(c.name) + (wait > 0 ? " aged" : " at once"));
      EXPECT_EQ(first[i], "first " + std::to_string(i + 1) + "\nsecond\n");
      file_handle h;
      stdout_capture out;
      const bool opened = file_handle_open(h, c.name, "r");
      out.stop();
      ASSERT_EQ(opened, c.reads != nullptr);
      if (opened) {
        EXPECT_EQ(read_through(h), c.reads);
      }
      file_handle_close(h);
    }
  }
  file_handle_close_kept_streams();
  EXPECT_EQ(open_descriptors(), baseline);
}

// A stream on kept bytes reads them to its end while the file changes under it, and outlives
// the end of the keeping; the next reader of the changed file reads the change.
TEST_F(FileHandleOpen, AReaderOfKeptBytesReadsThemWhileTheFileChanges) {
  write_file("in.txt", "old line\n");
  usleep(60'000);
  file_handle_keep_streams();
  file_handle warm;
  ASSERT_TRUE(file_handle_open(warm, "in.txt", "r"));
  file_handle_close(warm);
  file_handle old_reader;
  ASSERT_TRUE(file_handle_open(old_reader, "in.txt", "r"));
  write_file("in.txt", "new line\n");
  usleep(60'000);
  file_handle new_reader;
  ASSERT_TRUE(file_handle_open(new_reader, "in.txt", "r"));
  EXPECT_EQ(read_through(new_reader), "new line\n");
  file_handle_close(new_reader);
  file_handle_close_kept_streams();
  EXPECT_EQ(read_through(old_reader), "old line\n");
  file_handle_close(old_reader);
  // Without keeping, the file is read from the disk as ever.
  ASSERT_TRUE(file_handle_open(new_reader, "in.txt", "r"));
  EXPECT_EQ(read_through(new_reader), "new line\n");
  file_handle_close(new_reader);
}

TEST_F(FileHandleOpen, EmptyNameOrForeignModeIsRefusedSilently) {
  write_file("a.txt", "x\n");
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, "a.txt", "r"));
  FILE* const before = h.fp;
  struct refused {
    const char* name;
    const char* mode;
  };
  const refused cases[] = {{"", "w"}, {"b.txt", "x"}, {"b.txt", ""}, {"b.txt", "+w"}};
  for (const refused& c : cases) {
    stdout_capture out;
    EXPECT_FALSE(file_handle_open(h, c.name, c.mode)) << c.name << " / " << c.mode;
    EXPECT_EQ(out.stop(), "");
    EXPECT_EQ(h.fp, before);
    EXPECT_EQ(h.fp_check, before);
    EXPECT_STREQ(h.path, "a.txt");
  }
  EXPECT_FALSE(file_exists("b.txt"));
  file_handle_close(h);
}

TEST_F(FileHandleOpen, QuotedNameOpensUnquotedFileAndLosesItsQuotes) {
  write_file("my run.txt", "data\n");
  char name[] = "\"my run.txt\"";
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, name, "r"));
  EXPECT_STREQ(name, "my run.txt");
  EXPECT_STREQ(h.path, "my run.txt");
  file_handle_close(h);

  // A name that is nothing but quotes is empty once they are removed.
  char quotes[] = "\"\"";
  stdout_capture out;
  EXPECT_FALSE(file_handle_open(h, quotes, "w"));
  EXPECT_EQ(out.stop(), "");
  EXPECT_FALSE(h.is_open());
}

TEST_F(FileHandleOpen, ReopenWarnsAndClosesTheOldStream) {
  const int baseline = open_descriptors();
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, "first.out", "w"));
  fputs("kept\n", h.fp);
  stdout_capture out;
  ASSERT_TRUE(file_handle_open(h, "\"second.out\"", "w"));
  EXPECT_EQ(out.stop(),
            "\n\nError!!!!!!! opening a file when the previous file was not closed.\n"
            "Original file: first.out\nNew file: \"second.out\"\n\n\n");
  EXPECT_STREQ(h.path, "second.out");
  EXPECT_EQ(h.fp, h.fp_check);
  EXPECT_EQ(open_descriptors(), baseline + 1);  // only the new stream is open
  EXPECT_EQ(read_file("first.out"), "kept\n");  // the old stream was flushed and closed

  // A failed re-open leaves a closed, consistent handle: nothing leaks and the next close
  // finds no corrupt pointer.
  stdout_capture out2;
  EXPECT_FALSE(file_handle_open(h, "missing.in", "r"));
  const std::string text = out2.stop();
  EXPECT_NE(text.find("Original file: second.out\nNew file: missing.in\n"), std::string::npos);
  EXPECT_EQ(h.fp, nullptr);
  EXPECT_EQ(h.fp_check, nullptr);
  EXPECT_EQ(open_descriptors(), baseline);
  stdout_capture out3;
  file_handle_close(h);
  EXPECT_EQ(out3.stop(), "");
}

TEST_F(FileHandleOpen, CorruptPointerIsReportedAndTheOperationGoesOn) {
  const int baseline = open_descriptors();
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, "c.out", "w"));
  FILE* other = nullptr;
  h.fp_check = other;  // the second copy no longer matches
  stdout_capture out;
  file_handle_close(h);
  EXPECT_EQ(out.stop(), "\n\n\nError with the file c.out. The file pointer is corrupt.\n\n\n\n");
  EXPECT_EQ(h.fp, nullptr);
  EXPECT_EQ(h.fp_check, nullptr);
  EXPECT_EQ(open_descriptors(), baseline);

  // A closed handle whose copy was overwritten: release leaves it alone without a word, an
  // open reports it and goes on.
  static FILE* const stray = reinterpret_cast<FILE*>(0x10);  // never dereferenced
  h.fp_check = stray;
  stdout_capture quiet;
  file_handle_release(h);
  EXPECT_EQ(quiet.stop(), "");
  EXPECT_EQ(h.fp_check, stray);
  stdout_capture loud;
  ASSERT_TRUE(file_handle_open(h, "c.out", "r"));
  EXPECT_EQ(loud.stop(), "\n\n\nError with the file . The file pointer is corrupt.\n\n\n\n");
  EXPECT_EQ(h.fp, h.fp_check);
  file_handle_close(h);
}

TEST_F(FileHandleOpen, NameTooLongToStoreIsRefused) {
  const int baseline = open_descriptors();
  const std::string long_name(1100, 'n');
  // The bare name, and a short name under a project folder too long to hold with it.
  const std::string long_folder = root_ + "/" + std::string(1009 - root_.size(), 'd');
  const std::string output_name(20, 'q');
  struct too_long_case {
    std::string folder;
    std::string name;
    const char* mode;
  };
  const too_long_case cases[] = {{"", long_name, "w"},
                                 {"", long_name, "r"},
                                 {long_folder, output_name, "w"},
                                 {long_folder, output_name, "r"}};
  for (const too_long_case& c : cases) {
    project_dir[0] = '\0';
    if (!c.folder.empty()) {
      set_project_dir(c.folder.c_str(), 0);
      ASSERT_EQ(strlen(project_dir), c.folder.size() + 1);  // the folder alone fits
    }
    file_handle h;
    stdout_capture out;
    EXPECT_FALSE(file_handle_open(h, c.name.c_str(), c.mode));
    EXPECT_EQ(out.stop(), "Error.... name too long!!!\n\n\n");
    EXPECT_FALSE(h.is_open());
    EXPECT_STREQ(h.path, "");
  }
  EXPECT_TRUE(fs::is_empty(root_));  // nothing was created under a cut or a full name
  EXPECT_EQ(open_descriptors(), baseline);

  // make_run_filename says so too, with an empty result.
  char name[1200];
  strcpy(name, long_name.c_str());
  char out[1024] = "old";
  EXPECT_FALSE(make_run_filename(name, "w", out, sizeof out));
  EXPECT_STREQ(out, "");
}

TEST_F(FileHandleNames, RunPrefixOnlyForWrittenNamesAndBeforeTheFileName) {
  fs::create_directory("out");
  write_file("q.in", "in\n");
  run_prefix_on = 1;
  struct prefixed {
    int run;
    const char* name;
    const char* mode;
    const char* opened;
  };
  const prefixed cases[] = {
      {12, "q.out", "w", "0012_q.out"},
      {12, "q.out", "a", "0012_q.out"},
      {12, "q.in", "r", "q.in"},
      {3, "out/q.out", "w", "out/0003_q.out"},
      {4, "out\\q.out", "w", "out/0004_q.out"},
      {0, "\"t.out\"", "wb", "0000_t.out"},
  };
  for (const prefixed& c : cases) {
    run_number = c.run;
    file_handle h;
    stdout_capture out;
    ASSERT_TRUE(file_handle_open(h, c.name, c.mode)) << c.name;
    EXPECT_EQ(out.stop(), "");
    EXPECT_STREQ(h.path, c.opened);
    file_handle_close(h);
    EXPECT_TRUE(file_exists(c.opened)) << c.opened;
  }
  EXPECT_FALSE(file_exists("q.out"));
  EXPECT_FALSE(file_exists("0012_q.in"));

  run_prefix_on = 0;
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, "plain.out", "w"));
  EXPECT_STREQ(h.path, "plain.out");
  file_handle_close(h);
}

TEST_F(FileHandleNames, MissingInputIsReportedAndTheOpenFails) {
  file_handle h;
  stdout_capture out;
  EXPECT_FALSE(file_handle_open(h, "missing.in", "r"));
  EXPECT_EQ(out.stop(), "Error getting new filename from missing.in\n");
  EXPECT_FALSE(h.is_open());

  // An output whose folder does not exist fails after all three candidates.
  set_project_dir((root_ + "/p").c_str(), 0);
  char name[] = "nowhere/q.out";
  char resolved[1024];
  stdout_capture out2;
  EXPECT_TRUE(make_run_filename(name, "w", resolved, sizeof resolved));
  EXPECT_EQ(out2.stop(), "Error getting new filename from nowhere/q.out\n");
  EXPECT_EQ(std::string(resolved), root_ + "/p/nowhere/q.out");  // the last candidate
}

TEST_F(FileHandleNames, WithoutFoldersEveryNameResolvesToItself) {
  fs::create_directory("maps");
  write_file("maps/elev.asc", "e\n");
  struct resolved_case {
    const char* name;
    const char* mode;
    const char* expected;
  };
  const resolved_case cases[] = {{"q.out", "w", "q.out"},
                                 {"maps/elev.asc", "r", "maps/elev.asc"},
                                 {"maps\\elev.asc", "r", "maps/elev.asc"},
                                 {"maps\\q.out", "a", "maps/q.out"},
                                 {"", "w", ""}};
  for (const resolved_case& c : cases) {
    char name[64];
    strcpy(name, c.name);
    char resolved[1024] = "old";
    stdout_capture out;
    EXPECT_TRUE(make_run_filename(name, c.mode, resolved, sizeof resolved));
    EXPECT_EQ(out.stop(), "");
    EXPECT_STREQ(resolved, c.expected) << c.name;
  }
  EXPECT_TRUE(file_exists("maps/q.out"));  // a probe for appending creates the file
}

TEST_F(FileHandleFolders, FolderNamesAreStoredWithATrailingSlash) {
  struct stored {
    const char* given;
    const char* expected;
  };
  const stored cases[] = {
      {"out", "out/"}, {"out/", "out/"}, {"out\\", "out/"}, {"D:\\p\\res", "D:/p/res/"}, {"", ""},
  };
  for (const stored& c : cases) {
    output_dir_set = 0;
    set_output_dir(c.given);
    EXPECT_STREQ(output_dir, c.expected) << c.given;
    EXPECT_EQ(output_dir_set, 1);
    set_project_dir(c.given, static_cast<int>(strlen(c.given)));
    EXPECT_STREQ(project_dir, c.expected) << c.given;
  }
  // Only the first len characters name the project folder.
  set_project_dir("/data/proj", 5);
  EXPECT_STREQ(project_dir, "/data/");
}

TEST_F(FileHandleFolders, ProjectFolderOrderForWritingAndReading) {
  fs::create_directory("p");
  write_file("p/both.in", "project\n");
  write_file("both.in", "bare\n");
  write_file("p/only.in", "project only\n");
  // The project folder given in Windows form finds the same folder.
  const std::string forms[] = {root_ + "/p", backslashed(root_ + "/p")};
  for (const std::string& folder : forms) {
    set_project_dir(folder.c_str(), static_cast<int>(folder.size()));
    EXPECT_EQ(std::string(project_dir), root_ + "/p/");

    file_handle h;
    ASSERT_TRUE(file_handle_open(h, "q.out", "w"));  // writing: the project folder first
    EXPECT_EQ(std::string(h.path), root_ + "/p/q.out");
    file_handle_close(h);
    EXPECT_FALSE(file_exists("q.out"));

    ASSERT_TRUE(file_handle_open(h, "both.in", "r"));  // reading: the bare name first
    EXPECT_STREQ(h.path, "both.in");
    file_handle_close(h);
    ASSERT_TRUE(file_handle_open(h, "only.in", "r"));
    EXPECT_EQ(std::string(h.path), root_ + "/p/only.in");
    file_handle_close(h);
  }
}

TEST_F(FileHandleFolders, ExistingOutputFolderBecomesTheWorkingDirectory) {
  const int baseline = open_descriptors();
  fs::create_directories("p/res");
  fs::create_directories("p/maps");
  write_file("p/maps/elev.asc", "elevation\n");
  set_project_dir((root_ + "/p").c_str(), 0);
  set_output_dir(backslashed(root_ + "/p/res").c_str());

  file_handle h;
  stdout_capture out;
  ASSERT_TRUE(file_handle_open(h, "q.out", "w"));
  EXPECT_EQ(std::string(h.path), root_ + "/p/res/q.out");
  file_handle_close(h);
  EXPECT_EQ(cwd(), root_ + "/p/res");
  EXPECT_STREQ(output_dir, "res/");
  EXPECT_TRUE(file_exists(root_ + "/p/res/q.out"));

  // Later outputs stay in the sub-directory, with folders given either way.
  fs::create_directory(root_ + "/p/res/sub");
  for (const char* name : {"sub/a.out", "sub\\b.out"}) {
    ASSERT_TRUE(file_handle_open(h, name, "w")) << name;
    file_handle_close(h);
  }
  EXPECT_TRUE(file_exists(root_ + "/p/res/sub/a.out"));
  EXPECT_TRUE(file_exists(root_ + "/p/res/sub/b.out"));

  // Inputs named relative to the project folder are still found after the move, with either
  // separator; inputs in the sub-directory are found under their bare name.
  for (const char* name : {"maps/elev.asc", "maps\\elev.asc"}) {
    ASSERT_TRUE(file_handle_open(h, name, "r")) << name;
    EXPECT_EQ(std::string(h.path), root_ + "/p/maps/elev.asc");
    char line[32] = {};
    ASSERT_NE(fgets(line, sizeof line, h.fp), nullptr);
    EXPECT_STREQ(line, "elevation\n");
    file_handle_close(h);
  }
  ASSERT_TRUE(file_handle_open(h, "q.out", "r"));
  EXPECT_STREQ(h.path, "q.out");
  file_handle_close(h);
  EXPECT_EQ(out.stop(), "");
  EXPECT_EQ(open_descriptors(), baseline);  // no probe left a stream open
}

TEST_F(FileHandleFolders, MissingOutputFolderIsCreated) {
  fs::create_directory("p");
  set_project_dir((root_ + "/p/").c_str(), 0);
  set_output_dir((root_ + "/p/res").c_str());
  EXPECT_EQ(make_output_subdir(output_dir), "res/");
  EXPECT_TRUE(fs::is_directory(root_ + "/p/res"));
  EXPECT_EQ(cwd(), root_);  // created, not entered
  EXPECT_STREQ(output_dir, "res/");

  file_handle h;
  ASSERT_TRUE(file_handle_open(h, "q.out", "w"));
  EXPECT_EQ(std::string(h.path), root_ + "/p/res/q.out");
  file_handle_close(h);
  // A relative sub-directory is left as it is and is not below the project folder any more.
  EXPECT_EQ(make_output_subdir("res/"), "res/");
  EXPECT_EQ(cwd(), root_);
}

TEST_F(FileHandleFolders, OutputFolderThatCannotBeMadeIsDropped) {
  fs::create_directory("p");
  set_project_dir((root_ + "/p").c_str(), 0);
  set_output_dir((root_ + "/p/no/such/res").c_str());  // its parent is missing
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, "q.out", "w"));
  EXPECT_EQ(std::string(h.path), root_ + "/p/q.out");  // the project folder itself
  file_handle_close(h);
  EXPECT_STREQ(output_dir, "");
  EXPECT_EQ(output_dir_set, 1);
  EXPECT_EQ(cwd(), root_);
  EXPECT_FALSE(fs::exists(root_ + "/p/no"));
}

TEST_F(FileHandleFolders, OutputFolderOutsideTheProjectIsLeftAlone) {
  fs::create_directory("elsewhere");
  fs::create_directory("p");
  set_output_dir("elsewhere");
  // No project folder: the output folder is a plain prefix of written names.
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, "q.out", "w"));
  EXPECT_STREQ(h.path, "elsewhere/q.out");
  file_handle_close(h);
  EXPECT_EQ(make_output_subdir("elsewhere/"), "elsewhere/");
  EXPECT_STREQ(output_dir, "elsewhere/");
  EXPECT_EQ(cwd(), root_);
}

TEST_F(FileHandleFolders, RelativeProjectFolderStillServesInputsAfterTheMove) {
  fs::create_directories("p/res");
  fs::create_directories("p/maps");
  write_file("p/maps/soil.asc", "soil\n");
  set_project_dir("p", 1);
  set_output_dir("p\\res");
  file_handle h;
  ASSERT_TRUE(file_handle_open(h, "q.out", "w"));
  file_handle_close(h);
  EXPECT_EQ(cwd(), root_ + "/p/res");
  EXPECT_TRUE(file_exists(root_ + "/p/res/q.out"));
  EXPECT_FALSE(fs::exists(root_ + "/p/res/p"));
  ASSERT_TRUE(file_handle_open(h, "maps\\soil.asc", "r"));
  EXPECT_EQ(read_file(h.path), "soil\n");
  file_handle_close(h);
}

// The planned file of a name is the file the open would reach, found without touching it: two
// spellings of one file give one key, a name beside the project folder is found in it, and
// nothing is created or truncated on the way.
TEST_F(FileHandleNames, PlannedFileKeyIsOneForEverySpellingOfAFileAndTouchesNothing) {
  fs::create_directories("proj/sub");
  write_file("proj/in.asc", "kept\n");
  fs::create_symlink("in.asc", "proj/link.asc");
  set_project_dir("proj", 0);
  const std::string in = planned_file_key("in.asc", false);
  ASSERT_EQ(in.rfind("id:", 0), 0u) << in;
  for (const char* spelling : {"proj/in.asc", "proj\\sub\\..\\in.asc", "\"in.asc\"", "link.asc"})
    EXPECT_EQ(planned_file_key(spelling, false), in) << spelling;
  // An output of that name goes to the same file, which is still as it was.
  EXPECT_EQ(planned_file_key("in.asc", true), in);
  EXPECT_EQ(read_file("proj/in.asc"), "kept\n");
  // An output that is not there yet: keyed by its real folder and name, and not created.
  const std::string out = planned_file_key("out.txt", true);
  EXPECT_EQ(out, "path:" + fs::canonical("proj").string() + "/out.txt");
  EXPECT_EQ(planned_file_key("sub/../out.txt", true), out);
  EXPECT_FALSE(file_exists("proj/out.txt"));
  // An input that is nowhere, or an output whose folder is not there, has no file.
  EXPECT_EQ(planned_file_key("missing.asc", false), "");
  EXPECT_EQ(planned_file_key("none/out.txt", true), "");
  // In a batch run an output name has the run prefix: another file than the input.
  run_prefix_on = 1;
  run_number = 3;
  EXPECT_EQ(planned_file_key("in.asc", true),
            "path:" + fs::canonical("proj").string() + "/0003_in.asc");
}

TEST_F(FileHandleFolders, OutputFoldersAreMadeLevelByLevelBelowTheProjectFolder) {
  fs::create_directories("proj");
  set_project_dir("proj", 0);
  EXPECT_TRUE(make_output_folders("maps\\depth\\depth.0001.asc"));
  EXPECT_TRUE(fs::is_directory("proj/maps/depth"));
  EXPECT_TRUE(make_output_folders("maps/depth/depth.0002.asc"));  // already there
  EXPECT_TRUE(make_output_folders("plain.out"));                  // no folder to make
  // A file in the place of a folder: nothing can be made there, and the file stays.
  write_file("proj/taken", "file\n");
  EXPECT_FALSE(make_output_folders("taken/depth.0001.asc"));
  EXPECT_EQ(read_file("proj/taken"), "file\n");
}

// A stream whose writes fail is named with the system's reason, at the check and at close, and
// the run stops; a sound stream passes both.
TEST_F(FileHandleOpen, AFailedWriteIsReportedAtTheCheckAndAtClose) {
  if (!file_exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  file_handle sound;
  ASSERT_TRUE(file_handle_open(sound, "sound.txt", "w"));
  fputs("line\n", sound.fp);
  EXPECT_TRUE(file_handle_write_check(sound));
  file_handle_close(sound);
  EXPECT_EQ(run_error.error_fatal, 0);

  for (const bool check_first : {true, false}) {
    SCOPED_TRACE(check_first ? "at the check" : "at close");
    run_error = error_state{};
    file_handle full;
    ASSERT_TRUE(file_handle_open(full, "/dev/full", "w"));
    fputs("line\n", full.fp);
    stdout_capture out;
    if (check_first) {
      EXPECT_FALSE(file_handle_write_check(full));
      EXPECT_FALSE(file_handle_write_check(full));  // reported once
    }
    file_handle_close(full);
    const std::string text = out.stop();
    const std::string message =
        "Error: could not write the file /dev/full: No space left on device\n";
    EXPECT_NE(text.find(message), std::string::npos) << text;
    EXPECT_EQ(text.find(message), text.rfind(message)) << text;
    EXPECT_NE(run_error.error_fatal, 0);
    EXPECT_FALSE(full.is_open());
  }
}
