// Project file: a first line naming the format, then one card (keyword and arguments) per line.
// read_project_file reads it into the run-parameter records first thing in read_run_parameters;
// the calibration input reader calls prescan_project_folder to learn the project folder.
#pragma once

#include <span>
#include <string>
#include <variant>

#include "input/project_cards.h"

// Card codes: 0 to 388; no keyword has 56 or 333.
inline constexpr int card_code_max = 388;
inline constexpr int card_code_none = 169;            // nothing to do: comment, blank, no card
inline constexpr int card_code_project_folder = 313;  // PROJECT_FOLDER / PROJECT_PATH

// What a card does with its arguments.
enum class card_kind : unsigned char {
  file_name_flag,      // token into a name, given-flag set
  file_name,           // token into a name
  file_name_optional,  // token into a name when the line has one (see card_entry::value)
  number,              // one number ("%d" or "%lf" after the field's type); absent: 0
  number_flag,         // a number and its given-flag
  flag,                // given-flag(s) set, nothing read
  method_choice,       // an option code: a fixed value, or a word chosen from a list
  own,                 // the card's own handler
  ignored,             // recognised, nothing to do
};

// file_name_optional: what a card without an argument does (card_entry::value).
inline constexpr int name_keep_when_absent = 0;     // flag set, name kept
inline constexpr int name_empty_when_absent = 1;    // flag set, name emptied
inline constexpr int name_ignored_when_absent = 2;  // nothing at all

// Where a card's value goes: one field of one of the three run-parameter records.
using card_field =
    std::variant<std::monostate, int project_cards::*, double project_cards::*,
                 card_name project_cards::*, char (project_cards::*)[series_name_size],
                 int grid_time_params::*, double grid_time_params::*, int uniform_rain_params::*,
                 card_name uniform_rain_params::*, double uniform_rain_params::*>;

// The records a card handler writes, and the rest of the card's line (the keyword cut off).
struct card_context {
  project_cards& cards;
  grid_time_params& grid;
  uniform_rain_params& rain;
  std::string& rest;
};

struct card_entry;
using card_handler = void (*)(const card_entry& card, card_context& ctx);

// One row of the card table: one keyword. Synonyms are rows of their own with the same code and
// the same handling.
struct card_entry {
  const char* keyword = nullptr;        // lower case
  int code = card_code_none;            // 0..card_code_max
  card_kind kind = card_kind::ignored;  // how the arguments are handled
  card_field field = {};                // the card's value
  card_field flag = {};                 // given-flag set to 1 (INTERCEPTION: its second flag)
  int value = 0;               // option value; constituent, slot or variant for the own handlers;
                               // the absent-argument rule of file_name_optional
  const char* text = nullptr;  // echo format, or the card group named in error messages
  card_handler own = nullptr;  // handler of the cards with their own handling
};

// Every keyword of the project file, in code order.
std::span<const card_entry> project_card_table();

// Cuts the first token off `line` and returns its card code: card_code_none for no token, a
// token that begins with '#', a skipped card, or a word that is no card (after printing
// "Warning: unknown card found in the project file: %s\n" on process rank 0). Case is ignored.
int project_card_code(std::string& line);

// Reads the project file `path` into the three records (see the card table for what each card
// does). An unopenable file sets grid.project_open_failed; a wrong first line reports code
// 4000; a card that sets an error code stops the reading with the code left in run_error.
void read_project_file(const char* path, project_cards& cards, grid_time_params& grid,
                       uniform_rain_params& rain);

// Sets project_dir from the first PROJECT_FOLDER / PROJECT_PATH card of the project file
// `path`, or, when there is none, from the folder part of `path` itself (unchanged when `path`
// has no folder part).
void prescan_project_folder(const char* path);
