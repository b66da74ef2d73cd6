// Text lines and tokens: every text input of the model (project file, mapping tables, series,
// channel and calibration inputs) is read line by line with read_text_line and cut into tokens
// with next_token and its numeric forms. Lines are read whole up to max_text_line characters;
// tokens are separated by blanks, tabs, commas and newlines, and a double-quoted token keeps its
// separators. The tokenisers consume what they return: the line shrinks from the front.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct file_handle;

// The longest line an input may hold, without its newline (and a carriage return before it):
// 8 MiB, far beyond the 20,000 characters the text inputs are written for, so that the rows of
// an ASCII grid of many thousand columns and wide series tables are still read whole, and small
// enough that a file without newlines is refused quickly and in little memory.
constexpr std::size_t max_text_line = std::size_t{8} << 20;

// Reads the next line of the handle's stream into `line`, whole, without its newline (and
// without a carriage return just before it), then passes it through the line filter when one
// is registered. Returns 1 when a line was read, 0 at the end of the file or on a read failure.
// A line longer than max_text_line is never collected: the run stops with a message naming
// the file and the line's number, and 0 is returned, so that memory stays bounded whatever the
// file holds (a file without newlines, a device that never ends).
int read_text_line(std::string& line, file_handle& h);

// The filter every line read passes through: calibration parameter replacement registers its
// substitution here when it is switched on, so that a bracketed parameter name in any input
// line is replaced by the trial's value. A null filter lets lines pass unchanged.
using line_filter = void (*)(std::string& line);
void set_line_filter(line_filter filter);
// Passes one piece of input text through the registered filter (text a reader takes from a
// line by other means than read_text_line, such as the rest of a scanned line).
void apply_line_filter(std::string& text);

// Cuts the first token of `line` into `out`; returns 1 when a token was taken, else 0.
int next_token(std::string& line, std::string& out);
// The first token converted as a double ("%lf"); a token that does not convert gives 0.0 and
// still counts as taken. Returns 0 (line unchanged, out 0.0) when only separators are left.
int next_token_double(std::string& line, double& out);
// The same as an int ("%d"); a value beyond the range of an int is held at INT_MAX or INT_MIN.
int next_token_int(std::string& line, int& out);

// The strict numbers of the inputs: the whole text is the number, nothing before or after it.
// parse_int takes an optional sign and decimal digits within the range of an int ("12", "+12",
// "-3"); "12abc", "1.5", "1e3", " 12" and "" are refused, as is a value beyond an int.
// parse_double takes an optional sign and a decimal number with an optional exponent ("1.5",
// "-.5", "2e-3", "+4."), or a hexadecimal one after "0x"; the value must be finite, so "inf",
// "nan" and "1e999" are refused, while a value too small for a double reads as its nearest
// double. True, with the value in `out`, for a number; false, `out` unchanged, otherwise.
bool parse_int(std::string_view text, int& out);
bool parse_double(std::string_view text, double& out);

// The first token of `line` read by parse_int or parse_double and consumed with its
// separators. False when no token is left or when the token is not such a number (`out`
// unchanged).
bool take_int(std::string& line, int& out);
bool take_double(std::string& line, double& out);

// A whole number written as text: an optional sign, decimal digits and, optionally, a decimal
// point followed by nothing but zeros ("12", "+12", "-3", "12.", "12.0"). Nothing else may be
// in the text: "10abc", "10.9", "1e12" and "" are not whole numbers, nor is a value beyond the
// range of an int. True, with the value in `out`, for a whole number; false, `out` unchanged,
// otherwise. The one strict reader of counts and other whole numbers of the inputs.
bool parse_whole_number(std::string_view text, int& out);

// The first token of `line` read by parse_whole_number, consumed with its separators, and
// copied as typed into `typed`. Returns 1 for a whole number (in `out`), -1 for a token that
// is not one (`out` unchanged), 0 (line unchanged, `out` unchanged) when only separators are
// left.
int next_token_whole(std::string& line, int& out, std::string& typed);

// 1 when the first tokens of a and b are equal without regard to case (two strings without a
// token match each other), else 0.
int card_match(const std::string& a, const std::string& b);

// Pointer to the first character of the second word of s (separators blank, tab, newline).
const char* skip_first_word(const char* s);

// Deletes the first n characters of s in place; -1 for an empty s, else 0.
int str_drop_leading(std::string& s, std::size_t n);
int str_drop_leading(char* s, std::size_t n);

// Removes one leading and one trailing double quote in place (each independently).
void str_strip_quotes(std::string& s);
void str_strip_quotes(char* s);

// Copies src into the fixed buffer dst of dst_size bytes, cut to fit and always terminated.
// Returns true when src fitted whole.
bool copy_text(char* dst, std::size_t dst_size, const char* src);
