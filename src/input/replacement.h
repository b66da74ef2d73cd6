// Calibration parameter replacement: while active, every bracketed parameter name in an input
// line is replaced by its trial value as the line is read. The project reader fills the list and
// the values from its REPLACE_PARAMS / REPLACE_VALS cards, the calibration callback fills them
// per trial, and the line reader calls replace_line_params on every line.
#pragma once

#include <cstddef>
#include <string>

struct file_handle;

// One replacement parameter: its bracketed tag, the print format of its value and the value.
struct replace_param {
  std::string param_tag;      // the bracketed name as written in the list file, brackets included
  int param_tag_len = 0;      // length of param_tag
  std::string param_format;   // print format of the value as given, without its quotes
  int param_type = -1;        // 0 int, 1 double, 2 string
  double param_dvalue = 0.0;  // value of a type-1 entry
  int param_ivalue = 0;       // value of a type-0 entry
  std::string param_svalue;   // value of a type-2 entry
  bool param_used = false;    // substituted at least once since the values were read
  replace_param* param_next = nullptr;  // next entry, null at the tail

  // The one conversion of param_format, checked when the entry was made; the value is printed
  // with a format rebuilt from these pieces only, never with the input text itself.
  std::string param_flags;    // flags, each one of "-+ #0"
  int param_width = -1;       // field width, -1 when none
  int param_precision = -1;   // precision, -1 when none
  char param_conversion = 0;  // 'd', 'i', 'f', 'e', 'g' or 's'
};

extern replace_param* replace_list;  // head of the entries in list-file order; null when empty
extern int replace_active;           // set once replacement is on; never cleared in the process
extern int replace_count;       // substitutions made since the values were read or last reported
extern int replace_line_index;  // line of the replacement value file that this run takes (from 0)

// Switches replacement on for the rest of the process: raises replace_active and registers the
// substitution as the filter of the line reader, so every input line read from now on has its
// bracketed names replaced.
void replace_switch_on();

// Parses one line of the parameter list file (a bracketed tag and a quoted format such as
// "%6.4lf") and appends its entry at the tail of replace_list. 0 appended, -1 rejected (after
// printing why).
int parse_replace_param_line(const std::string& line);

// When the text of `line` at `pos` (a "[") is the tag of an entry, replaces the tag with the
// entry's value, counts the substitution and returns 1; `value_len`, when given, receives the
// length of the inserted text. Returns 0 and leaves the line alone when no entry matches.
// Readers should call replace_line_params, which also steps over the inserted text.
int replace_pair(std::string& line, std::size_t pos, std::size_t* value_len = nullptr);

// Rewrites every bracketed parameter name of `line` with its value; each "[" that matches no
// entry is reported and left as it is. Inserted values are not scanned again.
void replace_line_params(std::string& line);

// Summary and console report of the values in use (start-up).
void print_replace_values(file_handle& summary);
// Summary and console report of how often each value was used (end of start-up); clears
// replace_count.
void print_replace_usage(file_handle& summary);

// Reads the parameter list file into the replacement list (emptied first); 0, or -1 on failure.
int read_replace_params(const char* file_name);
// Reads line replace_line_index of the value file into the entries and switches replacement on;
// 0, or -1 when the file does not open or has no such line (the latter also sets error code
// 4000 so that the run stops).
int read_replace_vals(const char* file_name);

// Frees every entry of the replacement list and clears its head (end of every run, and before
// the list file is read again).
void replace_free_all();
