// Precipitation file reader: one event at a time, the EVENT title, the gauge and record counts,
// the gauge coordinates and the dated records of one data card (RADAR, GAGES, RATES, ACCUM).
// Called by the start-up event scan for every event and by the start of each precipitation
// event; the radar header reader serves events whose records name radar grid files.
#include "atmosphere/precip_file.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/julian_time.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"

namespace {

// Words read while looking for a card before the file counts as malformed.
constexpr int max_card_search_words = 10000;
// Longest event title kept, and longest radar file name line.
constexpr std::size_t max_title_length = 255;
constexpr std::size_t max_radar_name_length = 20000;

// Reads the next word of at most 5 characters (a longer word is read in pieces), lower-cased.
// False at the end of the file.
bool read_card_word(FILE* fp, char word[6]) {
  if (fscanf(fp, "%5s", word) != 1) return false;
  for (char* c = word; *c != '\0'; ++c)
    *c = static_cast<char>(tolower(static_cast<unsigned char>(*c)));
  return true;
}

// Cards are matched on their first four letters.
bool is_card(const char* word, const char* card) {
  return strncmp(word, card, 4) == 0;
}

// Reads the rest of the current line, dropping its line end (and a carriage return before it)
// and, when asked, the blanks it starts with; at most `limit` characters are kept, the rest of
// a longer line is passed over.
void read_rest_of_line(FILE* fp, std::string& out, std::size_t limit, bool skip_blanks = false) {
  out.clear();
  int c = fgetc(fp);
  while (skip_blanks && (c == ' ' || c == '\t')) c = fgetc(fp);
  for (; c != EOF && c != '\n'; c = fgetc(fp)) {
    if (out.size() < limit) out.push_back(static_cast<char>(c));
  }
  if (!out.empty() && out.back() == '\r') out.pop_back();
}

void skip_rest_of_line(FILE* fp) {
  int c;
  while ((c = fgetc(fp)) != EOF && c != '\n') {
  }
}

// Compares two record dates (year, month, day, hour, minute): negative when a is earlier.
int compare_dates(const int* a, const int* b) {
  for (int i = 0; i < 5; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

// Number of the file's line on which the first character that is no blank at or after the
// position `from` stands (lines from 1), for a message about the record that starts there. The
// file is read again from its start and left where it was.
long line_of_record(FILE* fp, long from) {
  const long at = ftell(fp);
  if (from < 0 || fseek(fp, 0, SEEK_SET) != 0) return 0;
  long line = 1;
  long pos = 0;
  int c = 0;
  for (; pos < from && (c = fgetc(fp)) != EOF; ++pos)
    if (c == '\n') ++line;
  while ((c = fgetc(fp)) != EOF && isspace(c))
    if (c == '\n') ++line;
  if (at >= 0) fseek(fp, at, SEEK_SET);
  return line;
}

void print_card_type_error(const char* what, const char* list) {
  printf("\nERROR:\n");
  printf("\nThere is a problem in the precipitation input file.\n");
  printf("%s", what);
  printf("There may only be one of the following card types per event:\n\n");
  printf("%s", list);
  printf("Check the precipitation input file.  TORVA exiting\n");
}

// A fault of the file after its own message: code 4000, left for the driver, since the event
// scan that reads the file returns to it at once; the reading's result 0.
int format_error() {
  raise_own_message();
  return 0;
}

// The value table, coordinates and file-name list of an event with `gauges` gauges and
// `records` records, refused when the counts are out of range (message printed).
bool size_event_tables(model_state& ms, const char* file_name) {
  overland_state& ov = ms.overland;
  const int gauges = ov.precip_gage_count;
  const int records = ov.precip_record_count;
  if (records < 1 || records > max_rain_records) {
    printf(
        "\nError: the event entitled:\n   %s\nin the precipitation file %s has %d records "
        "(NRPDS); an event holds 1 to %d records.\n",
        ov.precip_event_title.c_str(), file_name, records, max_rain_records);
    return false;
  }
  if (gauges < -1 ||
      (gauges > 0 && static_cast<long>(gauges) + 1 > max_precip_values / (records + 1L))) {
    printf(
        "\nError: the event entitled:\n   %s\nin the precipitation file %s has %d gauges "
        "(NRGAG) with %d records; an event holds at most %ld gauge values.\n",
        ov.precip_event_title.c_str(), file_name, gauges, records, max_precip_values);
    return false;
  }
  // One row per gauge and one column per record; a gauge count below 1 keeps element 1 of the
  // coordinate arrays, set to 0.
  if (gauges > 0) ov.precip_values.resize(gauges + 1, records, 0.0);
  const int coords = gauges > 0 ? gauges : 1;
  for (guarded_array<double>* a : {&ov.precip_gage_x, &ov.precip_gage_y}) {
    if (a->upper() < coords) a->grow(coords - a->upper());
    if (a->upper() < coords) {
      printf("Error allocating memory for variable %s\n", a->array_name());
      return false;
    }
    (*a)[1] = 0.0;
  }
  if (gauges == -1) ov.radar_filenames.assign(static_cast<std::size_t>(records) + 2, std::string());
  return true;
}

// What the parts of the event reader give: go on with the next part, or return this value.
constexpr int event_read_goes_on = 1;

// A gauge or record count that is no whole number: the event cannot be read.
int bad_event_count(const char* card, const char* value, const overland_state& ov) {
  printf("\nThere is a problem with your rainfall input file.  The %s card of the event\n", card);
  printf("entitled:\n   %s\nis followed by \"%s\", which is not a whole number.\n\n",
         ov.precip_event_title.c_str(), value);
  return format_error();
}

// 2. NRGAG and NRPDS, in either order.
int read_event_counts(overland_state& ov, FILE* fp) {
  char word[6] = {};
  int words = 0;
  bool have_gauges = false;
  bool have_records = false;
  while (!have_gauges || !have_records) {
    if (!read_card_word(fp, word)) return -1;
    if (is_card(word, "nrga")) {
      char value[256] = {};
      if (fscanf(fp, "%255s", value) != 1) return -1;
      int n = 0;
      if (parse_int(value, n)) {
        ov.precip_gage_count = n;
      } else {
        for (char* c = value; *c != '\0'; ++c)
          *c = static_cast<char>(tolower(static_cast<unsigned char>(*c)));
        if (strstr(value, "files") == nullptr) return bad_event_count("NRGAG", value, ov);
        ov.precip_gage_count = -1;
      }
      have_gauges = true;
    } else if (is_card(word, "nrpd")) {
      char value[256] = {};
      if (fscanf(fp, "%255s", value) != 1) return -1;
      int n = 0;
      if (!parse_int(value, n)) return bad_event_count("NRPDS", value, ov);
      ov.precip_record_count = n;
      have_records = true;
    }
    if (++words > max_card_search_words) {
      printf("\nThere is a problem with your rainfall input file.  TORVA cannot\n");
      printf("find the NRPDS or NRGAG card for the event entitled:\n");
      printf("   %s\n\n", ov.precip_event_title.c_str());
      printf("Check the format of the rainfall input file.\n");
      return format_error();
    }
  }
  return event_read_goes_on;
}

// 3. Gauge coordinates.
int read_gauge_coordinates(overland_state& ov, FILE* fp, const char* file_name) {
  char word[6] = {};
  const int gauges = ov.precip_gage_count;
  for (int g = 1; g <= gauges; ++g) {
    if (!read_card_word(fp, word)) return -1;
    if (!is_card(word, "coor")) {
      printf("\nCannot find gage coordinate card in rainfall input file for event entitled:\n");
      printf("       %s\n\n", ov.precip_event_title.c_str());
      printf("Check rainfall input file format.\n");
      return format_error();
    }
    double x = 0.0;
    double y = 0.0;
    const int got = fscanf(fp, "%lf %lf", &x, &y);
    if (got == EOF) return -1;
    if (got != 2) {
      printf(
          "\nCannot read the coordinates of gage %d in rainfall input file for event "
          "entitled:\n       %s\n\n",
          g, ov.precip_event_title.c_str());
      printf("Check rainfall input file format.\n");
      return format_error();
    }
    // A place on the grid's plane: the gauge distances of the rainfall interpolation use it.
    if (!std::isfinite(x) || !std::isfinite(y)) {
      printf("\nERROR:\nThe coordinates of gage %d of the EVENT titled:\n %s\n", g,
             ov.precip_event_title.c_str());
      printf(
          "in the precipitation file %s read %g %g; a gauge stands at a finite easting and "
          "northing.\n",
          file_name, x, y);
      printf("Check the precipitation input file.  TORVA exiting\n");
      return format_error();
    }
    ov.precip_gage_x[g] = x;
    ov.precip_gage_y[g] = y;
    skip_rest_of_line(fp);
  }
  return event_read_goes_on;
}

// 4. The records: a card word and a date, then a radar file name or one value per gauge.
int read_event_records(overland_state& ov, FILE* fp, const char* file_name) {
  char word[6] = {};
  const int gauges = ov.precip_gage_count;
  const int records = ov.precip_record_count;
  int last[5] = {};
  for (int k = 1; k <= records; ++k) {
    int date[5] = {};
    const long record_start = ftell(fp);
    const int got =
        fscanf(fp, "%5s %d %d %d %d %d\n", word, &date[0], &date[1], &date[2], &date[3], &date[4]);
    if (got == EOF || (got < 6 && feof(fp))) {
      printf("\n last year %d last month %d last day %d last hour %d last minute %d \n", last[0],
             last[1], last[2], last[3], last[4]);
      return -1;
    }
    if (got < 6) {
      printf("\nERROR:\nCannot read the date of record %d of the EVENT titled:\n %s\n", k,
             ov.precip_event_title.c_str());
      printf("Check the precipitation input file.  TORVA exiting\n");
      return format_error();
    }
    for (char* c = word; *c != '\0'; ++c)
      *c = static_cast<char>(tolower(static_cast<unsigned char>(*c)));
    if (is_card(word, "rada")) ov.precip_radar = 1;
    if (is_card(word, "gage")) ov.precip_gages = 1;
    if (is_card(word, "rate")) ov.precip_rates = 1;
    if (is_card(word, "accu")) ov.precip_accum = 1;
    const int cards = (ov.precip_radar != 0) + ov.precip_gages + ov.precip_rates + ov.precip_accum;
    if (cards > 1) {
      print_card_type_error("More than one precipitation data card type has been specified.\n",
                            "     1) RADAR\n     2) GAGES\n     3) RATES\n\n");
      return format_error();
    }
    if (cards == 0) {
      print_card_type_error("At least one precipitation data card type must be specified.\n",
                            "     1) RADAR\n     2) GAGES\n     3) RATES    4) ACCUM\n\n");
      return format_error();
    }
    // A calendar date, checked as written (a two-digit year is in the 1900s).
    const std::string outside = date_fields_outside(date, calendar_date_limits);
    if (!outside.empty()) {
      printf("\nERROR:\nThe date of record %d of the EVENT titled:\n %s\n", k,
             ov.precip_event_title.c_str());
      printf("in the precipitation file %s is no calendar date: %s.\n", file_name, outside.c_str());
      printf("Check the precipitation input file.  TORVA exiting\n");
      return format_error();
    }
    if (date[0] < 100) date[0] += 1900;
    // A day its month has: a day past the end (30 February) would carry into the next month and
    // move every time after it.
    const std::string past_end = date_day_past_month_end(date);
    if (!past_end.empty()) {
      printf("\nERROR:\nThe date of record %d of the EVENT titled:\n %s\n", k,
             ov.precip_event_title.c_str());
      printf(
          "in the precipitation file %s, line %ld, is %d/%d/%d %d:%02d, a day that does not "
          "exist: %s.\n",
          file_name, line_of_record(fp, record_start), date[1], date[2], date[0], date[3], date[4],
          past_end.c_str());
      printf("Check the precipitation input file.  TORVA exiting\n");
      return format_error();
    }
    if (k > 1 && compare_dates(date, last) < 0) {
      printf("\nERROR:\n");
      printf("There is a data error in the precipitation file.  This error occurred in the\n");
      printf("EVENT titled:\n %s\n", ov.precip_event_title.c_str());
      printf("On line no. %ld, the given time of the recorded data is:    %ld/%ld/%ld %ld:%2.2ld\n",
             static_cast<long>(k), static_cast<long>(date[1]), static_cast<long>(date[2]),
             static_cast<long>(date[0]), static_cast<long>(date[3]), static_cast<long>(date[4]));
      printf("Which is earlier than the date/time on the previous line:  %ld/%ld/%ld %ld:%2.2ld\n",
             static_cast<long>(last[1]), static_cast<long>(last[2]), static_cast<long>(last[0]),
             static_cast<long>(last[3]), static_cast<long>(last[4]));
      printf("This error in your precipitation input file must be corrected before TORVA\n");
      printf("can continue.  Program exiting on error.\n\n");
      return format_error();
    }
    for (int i = 0; i < 5; ++i) ov.rain_events[k].value[i] = last[i] = date[i];

    if (gauges == -1) {
      // The rest of the line names the record's radar grid file.
      std::string name;
      read_rest_of_line(fp, name, max_radar_name_length);
      apply_line_filter(name);
      ov.radar_filenames[static_cast<std::size_t>(k)] = name;
      continue;
    }
    for (int g = 1; g <= gauges; ++g) {
      double value = 0.0;
      if (fscanf(fp, "%lf", &value) != 1) {
        printf("\n ERROR: \n");
        printf("\n check out gage input for precip record %d", k);
        printf("\n look at gage %d \n", g);
        return -1;
      }
      // A rate or a depth of rain: a number of 0 or more.
      if (!(std::isfinite(value) && value >= 0.0)) {
        printf("\nERROR:\nGage %d of record %d of the EVENT titled:\n %s\n", g, k,
               ov.precip_event_title.c_str());
        printf(
            "in the precipitation file %s reads %g; a gauge value is a rainfall rate or depth "
            "of 0 or more.\n",
            file_name, value);
        printf("Check the precipitation input file.  TORVA exiting\n");
        return format_error();
      }
      if (ov.precip_accum && k > 1 && value < ov.precip_values[g][k - 1]) {
        printf("\nERROR:\n");
        printf("There is a data error in the precipitation file.  This error occurred in the\n");
        printf("EVENT titled:\n %s\n", ov.precip_event_title.c_str());
        printf("On line no. %ld, the accumulated precip. for gage number %d is: %8.5lf mm\n",
               static_cast<long>(k), g, value);
        printf("Which is less than the accumulated precip. on the previous line: %8.5lf mm\n",
               ov.precip_values[g][k - 1]);
        printf("This error in your precipitation input file must be corrected before TORVA\n");
        printf("can continue.  Accumulated precip is CUMULATIVE.  The values should increase\n");
        printf("monotonically.  Program exiting on error.\n\n");
        return format_error();
      }
      ov.precip_values[g][k] = value;
    }
  }
  return event_read_goes_on;
}

// 5. An event of radar files: one value per record from the grid of each file. Every file must
// be there and the first must give the grid's size before the event is taken.
int check_radar_files(overland_state& ov, const char* file_name) {
  const int records = ov.precip_record_count;
  for (int k = 1; k <= records; ++k) {
    const char* grid_name = ov.radar_filenames[static_cast<std::size_t>(k)].c_str();
    file_handle grid;
    const bool opened = file_handle_open(grid, grid_name, "r");
    file_handle_close(grid);
    if (opened) continue;
    printf("Error: the radar file %s of record %d of the EVENT titled:\n %s\n", grid_name, k,
           ov.precip_event_title.c_str());
    printf("in the precipitation file %s cannot be opened.\n", file_name);
    return format_error();
  }
  ov.precip_radar = 2;
  ov.precip_gage_count = 1;
  ov.radar_filenames[static_cast<std::size_t>(records) + 1] =
      ov.radar_filenames[static_cast<std::size_t>(records)];
  std::string problem;
  if (read_radar_header(ov.radar_grid, ov.radar_filenames[1].c_str(), &problem) != 0) {
    printf("Error: unable to read radar header in file %s\n", ov.radar_filenames[1].c_str());
    printf("       %s.\n", problem.c_str());
    return format_error();
  }
  return event_read_goes_on;
}

}  // namespace

int read_precip_event(model_state& ms, file_handle& file) {
  overland_state& ov = ms.overland;
  const char* file_name = ms.input.names.precip_file;
  FILE* fp = file.fp;
  if (fp == nullptr) {
    printf("Error: the precipitation file %s is not open.\n", file_name);
    return format_error();
  }
  char word[6] = {};

  // 1. The EVENT card.
  int words = 0;
  for (;;) {
    if (!read_card_word(fp, word)) return 0;  // no further event
    if (is_card(word, "even")) break;
    if (++words > max_card_search_words) {
      printf("There is a problem with your rainfall input file.  TORVA cannot\n");
      printf("find the first event card.  Check the format of the rainfall input for event %d\n",
             ov.precip_event_count);
      printf("file.\n\n");
      return format_error();
    }
  }
  ov.precip_event_count += 1;
  read_rest_of_line(fp, ov.precip_event_title, max_title_length, true);
  ov.precip_gage_count = 0;
  ov.precip_record_count = 0;
  ov.precip_radar = ov.precip_gages = ov.precip_rates = ov.precip_accum = 0;

  int step = read_event_counts(ov, fp);
  if (step != event_read_goes_on) return step;
  if (!size_event_tables(ms, file_name)) return format_error();
  step = read_gauge_coordinates(ov, fp, file_name);
  if (step == event_read_goes_on) step = read_event_records(ov, fp, file_name);
  if (step == event_read_goes_on && ov.precip_gage_count == -1 && ov.precip_radar != 0)
    step = check_radar_files(ov, file_name);
  return step;
}

int read_radar_header(radar_grid_record& radar, const char* file_name, std::string* problem) {
  const auto refuse = [problem](const std::string& text) {
    if (problem != nullptr) *problem = text;
    return -1;
  };
  file_handle file;
  if (!file_handle_open(file, file_name, "r")) return refuse("the file cannot be opened");
  double header[6] = {};
  std::string keywords[6];
  std::string line;
  for (int i = 0; i < 6; ++i) {
    if (read_text_line(line, file) == 0 || next_token(line, keywords[i]) == 0 ||
        next_token_double(line, header[i]) == 0) {
      file_handle_close(file);
      return refuse("line " + std::to_string(i + 1) + " does not hold a keyword and a number");
    }
  }
  file_handle_close(file);

  // The values are checked as read, before the columns and rows become ints: whole numbers that
  // size a grid the event tables can hold, a cell size above 0, and finite numbers elsewhere.
  const auto named = [&](int i) {
    char text[320];
    snprintf(text, sizeof text, "line %d (%s %g)", i + 1, keywords[i].c_str(), header[i]);
    return std::string(text);
  };
  const double most_cells = static_cast<double>(max_precip_values);
  for (int i = 0; i < 3; ++i) {
    // Line 1 the columns, line 2 the rows, then the two together, named by the rows.
    const double v = i < 2 ? header[i] : header[0] * header[1];
    if (v >= 1.0 && v <= most_cells && v == std::floor(v)) continue;
    return refuse(named(i < 2 ? i : 1) +
                  ": the columns and rows of a radar grid are whole numbers from 1, at most " +
                  std::to_string(max_precip_values) + " cells in all");
  }
  for (int i = 2; i < 6; ++i)
    if (!std::isfinite(header[i])) return refuse(named(i) + ": not a finite number");
  if (header[4] <= 0.0)
    return refuse(named(4) + ": the cell size of a radar grid is a number above 0");

  const int cols = static_cast<int>(header[0]);
  const int rows = static_cast<int>(header[1]);
  radar.xll = header[2];
  radar.yll = header[3];
  radar.cell_size = header[4];
  radar.nodata = header[5];
  radar.west_edge = radar.xll;
  radar.north_edge = rows * radar.cell_size + radar.yll;
  if (rows != radar.rows || cols != radar.cols || radar.values.empty()) {
    radar.rows = rows;
    radar.cols = cols;
    if (!radar.values.allocate(rows * cols)) {
      printf("Error allocating memory for variable %s\n", "precip_data");
      return refuse("its grid cannot be allocated");
    }
  }
  return 0;
}
