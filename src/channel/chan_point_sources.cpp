// Channel point sources: reads the channel point-source file (point sources on channel nodes with
// their starting flows, then dated records that change the flows), sets the flows up at channel
// start-up and, in the time loop right after channel routing, reads each record once its date
// has come, so that its flows act from the next routing step on.
#include "channel/chan_point_sources.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "channel/channel_steps.h"
#include "channel/link_flows.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/julian_time.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"

namespace {

// Words a card search passes over before the file is taken to be of another format.
constexpr int search_word_limit = 10000;

// A word of the file as a message shows it: long words are cut.
std::string shown(const std::string& word) {
  return word.size() <= 40 ? word : word.substr(0, 40) + "...";
}

const char* file_name(const chan_point_state& p) {
  return p.chan_point_file.path;
}

// The next word of the file, across lines; false at the end of the file.
bool next_word(chan_point_state& p, std::string& word) {
  for (;;) {
    if (next_token(p.pending_words, word)) return true;
    std::string line;
    if (!read_text_line(line, p.chan_point_file)) return false;
    ++p.line_number;
    p.pending_words = std::move(line);
  }
}

// A card word matches when its first five letters, lower-cased, are the card's.
bool is_card(const std::string& word, const char* card) {
  std::string head = word.substr(0, 5);
  for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return head == card;
}

// The outcome of reading one value.
enum class got { value, end_of_file, bad };

got read_int(chan_point_state& p, int& out, std::string& word) {
  if (!next_word(p, word)) return got::end_of_file;
  return parse_int(word, out) ? got::value : got::bad;
}

got read_double(chan_point_state& p, double& out, std::string& word) {
  if (!next_word(p, word)) return got::end_of_file;
  return parse_double(word, out) ? got::value : got::bad;
}

// Reports a word that is not the number a card needs.
void bad_number(const chan_point_state& p, const char* what, const std::string& word,
                const char* kind) {
  stop_with_message("Error: %s on line %d of the channel point-source file %s: \"%s\" is not %s.\n",
                    what, p.line_number, file_name(p), shown(word).c_str(), kind);
}

// Passes over words up to the card; 1 found, 0 more than `used` reaching the word limit (the
// count goes on across the searches of one stage), -1 at the end of the file.
int search_card(chan_point_state& p, const char* card, int& used) {
  std::string word;
  for (;;) {
    if (used >= search_word_limit) return 0;
    if (!next_word(p, word)) return -1;
    ++used;
    if (is_card(word, card)) return 1;
  }
}

void search_failed(const char* second_line) {
  echo_message("There is a problem with your channel source input file.  TORVA cannot\n");
  echo_message("%s", second_line);
  echo_message("\n\n");
  stop_now();
}

// The last stored record date, printed when the file ends where a record header is due.
void print_last_date(const chan_point_state& p) {
  echo_message("\n last year %d last month %d last day %d last hour %d last minute %d \n",
               p.next_year, p.next_month, p.next_day, p.next_hour, p.next_minute);
}

// Reads a record header "INPUT year month day hour minute" and stores its date (a year below
// 100 is 1900 plus the year). 1 read, -1 at the end of the file, 0 after a reported fault.
int read_record_header(chan_point_state& p) {
  std::string word;
  if (!next_word(p, word)) {
    print_last_date(p);
    return -1;
  }
  const int header_line = p.line_number;
  if (!is_card(word, "input")) {
    stop_with_message(
        "Error: the timed record header on line %d of the channel point-source file %s begins "
        "with \"%s\" instead of INPUT.\n",
        header_line, file_name(p), shown(word).c_str());
    return 0;
  }
  int date[5] = {};
  for (int& field : date) {
    const got g = read_int(p, field, word);
    if (g == got::end_of_file) {
      print_last_date(p);
      return -1;
    }
    if (g == got::bad) {
      bad_number(p, "the INPUT header", word, "a whole number (year month day hour minute)");
      return 0;
    }
  }
  if (date[0] >= 0 && date[0] < 100) date[0] += 1900;
  const std::string outside = date_fields_outside(date, calendar_date_limits);
  if (!outside.empty()) {
    stop_with_message(
        "Error: the INPUT header on line %d of the channel point-source file %s gives a date "
        "whose %s.\n",
        header_line, file_name(p), outside.c_str());
    return 0;
  }
  p.next_year = date[0];
  p.next_month = date[1];
  p.next_day = date[2];
  p.next_hour = date[3];
  p.next_minute = date[4];
  return 1;
}

// Reads `p.chan_point_constituents` concentrations of point source k into its address.
// 1 read, -1 at the end of the file, 0 after a reported fault.
int read_concentrations(chan_point_state& p, int k, const char* what) {
  std::string word;
  for (int c = 1; c <= p.chan_point_constituents; ++c) {
    double v = 0.0;
    const got g = read_double(p, v, word);
    if (g == got::end_of_file) return -1;
    if (g == got::bad) {
      bad_number(p, what, word, "a concentration");
      return 0;
    }
    p.chan_point_conc[c][p.chan_point_address[k]] = v;
  }
  return 1;
}

// Checks that a POINT card's node and link name a node that takes channel water and that no
// earlier card named it; `owner` holds the source of every address taken so far.
bool point_in_network(const chan_point_state& p, const channel_state& ch, int k, int node, int link,
                      std::vector<int>& owner) {
  const int line = p.line_number;
  if (link < 1 || link > ch.chan_link_count) {
    stop_with_message(
        "Error: the POINT card on line %d of the channel point-source file %s names link %d, "
        "which is not a link of the channel network (1 to %d).\n",
        line, file_name(p), link, ch.chan_link_count);
    return false;
  }
  const int type = ch.ltype[link];
  if (link_is_lake(type) || link_is_structure(type)) {
    stop_with_message(
        "Error: the POINT card on line %d of the channel point-source file %s names link %d, a "
        "%s link, whose nodes hold no channel water of their own.\n",
        line, file_name(p), link, link_is_lake(type) ? "lake" : "hydraulic structure");
    return false;
  }
  const int nodes = ch.nx[link] < ch.max_nodes ? ch.nx[link] : ch.max_nodes;
  if (node < 1 || node > nodes) {
    stop_with_message(
        "Error: the POINT card on line %d of the channel point-source file %s names node %d of "
        "link %d, which is not a node of that link (1 to %d).\n",
        line, file_name(p), node, link, nodes);
    return false;
  }
  const int address = link * p.node_stride + node;
  if (owner[address] != 0) {
    stop_with_message(
        "Error: the POINT card on line %d of the channel point-source file %s names node %d of "
        "link %d, which point source %d already names.\n",
        line, file_name(p), node, link, owner[address]);
    return false;
  }
  owner[address] = k;
  return true;
}

// Channel nodes that can take a point source: nodes 1..nx of the links that hold water.
long point_node_count(const channel_state& ch) {
  long count = 0;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    const int type = ch.ltype[link];
    if (link_is_lake(type) || link_is_structure(type)) continue;
    count += ch.nx[link] < ch.max_nodes ? ch.nx[link] : ch.max_nodes;
  }
  return count;
}

void unexpected_end(const char* which) {
  echo_message("Unexpected end of file in chan point %sdata file.\n", which);
  echo_message("Check the format of the data file.\nProgram terminated.");
  stop_now();
}

double next_record_time(const chan_point_state& p) {
  return julian_from_date(p.next_year, p.next_month, p.next_day, p.next_hour, p.next_minute, 0.0);
}

}  // namespace

int read_chan_point_source(chan_point_state& p, const channel_state& ch, int constituents) {
  p.chan_point_constituents = constituents > 0 ? constituents : 0;
  std::string word;

  // NUMPT: the number of point sources.
  int used = 0;
  int found = search_card(p, "numpt", used);
  if (found < 0) return -1;
  if (found == 0) {
    search_failed("find the first card.  Check the format of your channel source file");
    return 0;
  }
  int count = 0;
  got g = read_int(p, count, word);
  if (g == got::end_of_file) return -1;
  if (g == got::bad) {
    bad_number(p, "the NUMPT card", word, "a whole number");
    return 0;
  }
  const long nodes = point_node_count(ch);
  if (count < 0 || count > nodes) {
    stop_with_message(
        "Error: the NUMPT card on line %d of the channel point-source file %s gives %d point "
        "sources: the count must lie between 0 and %ld, the channel nodes that can take one.\n",
        p.line_number, file_name(p), count, nodes);
    return 0;
  }
  p.chan_point_count = count;
  if (count > 0 && !p.chan_point_address.allocate(count)) {
    stop_with_message("Error allocating memory for variable %s\n", "chan_point_address");
    return 0;
  }
  if (count > 0 && p.chan_point_constituents > 0 &&
      !p.chan_point_conc.allocate(p.chan_point_constituents, ch.node_extent_product)) {
    stop_with_message("Error allocating memory for variable %s\n", "chan_point_conc");
    return 0;
  }

  // One POINT card per source: node, link, flow, then its concentrations.
  std::vector<int> owner(count > 0 ? static_cast<std::size_t>(ch.node_extent_product) + 1 : 0, 0);
  used = 0;
  for (int k = 1; k <= count; ++k) {
    found = search_card(p, "point", used);
    if (found < 0) return -1;
    if (found == 0) {
      search_failed(
          "find the point source location card.  Check the format of your channel source file");
      return 0;
    }
    int node = 0, link = 0;
    double flow = 0.0;
    g = read_int(p, node, word);
    if (g == got::value) g = read_int(p, link, word);
    if (g == got::end_of_file) return -1;
    if (g == got::bad) {
      bad_number(p, "the POINT card", word, "a whole number (POINT node link flow)");
      return 0;
    }
    if (!point_in_network(p, ch, k, node, link, owner)) return 0;
    g = read_double(p, flow, word);
    if (g == got::end_of_file) return -1;
    if (g == got::bad) {
      bad_number(p, "the POINT card", word, "a flow");
      return 0;
    }
    const int address = link * p.node_stride + node;
    p.chan_point_address[k] = address;
    p.chan_point_flow[address] = flow;
    const int read = read_concentrations(p, k, "the POINT card");
    if (read <= 0) return read;
  }

  // NRPDS: the number of timed records; a file that ends before it has none.
  used = 0;
  found = search_card(p, "nrpds", used);
  if (found < 0) {
    p.chan_point_records = 0;
    return 0;
  }
  if (found == 0) {
    search_failed(
        "find the number of timed changes to your point inputs.  Check the format of your "
        "channel source file");
    return 0;
  }
  int records = 0;
  g = read_int(p, records, word);
  if (g == got::end_of_file) return -1;
  if (g == got::bad) {
    bad_number(p, "the NRPDS card", word, "a whole number");
    return 0;
  }
  if (records < 0) {
    stop_with_message(
        "Error: the NRPDS card on line %d of the channel point-source file %s gives %d timed "
        "records: the count must not be negative.\n",
        p.line_number, file_name(p), records);
    return 0;
  }
  p.chan_point_records = records;
  if (records < 1) return 0;
  return read_record_header(p);
}

int read_chan_point_input_record(chan_point_state& p) {
  std::string word;
  for (int k = 1; k <= p.chan_point_count; ++k) {
    double flow = 0.0;
    const got g = read_double(p, flow, word);
    if (g == got::end_of_file) return -1;
    if (g == got::bad) {
      stop_with_message(
          "Error: timed record %d on line %d of the channel point-source file %s: the flow of "
          "point source %d, \"%s\", is not a number.\n",
          p.chan_point_records_read, p.line_number, file_name(p), k, shown(word).c_str());
      return 0;
    }
    p.chan_point_flow[p.chan_point_address[k]] = flow;
    const int read = read_concentrations(p, k, "a timed record's value group");
    if (read <= 0) return read;
  }
  if (p.chan_point_records_read >= p.chan_point_records) return 0;
  return read_record_header(p);
}

void chan_point_setup(model_state& ms) {
  channel_state& ch = ms.channel;
  chan_point_state& p = ch.points;
  char name[sizeof ms.input.names.chan_point_input];
  copy_text(name, sizeof name, ms.input.names.chan_point_input);
  if (name[0] == '\0') return;
  if (!file_handle_open(p.chan_point_file, name, "r")) {
    echo_message("Can't open %s to read channel point source input file \n", name);
    echo_message("There will be no point inputs to the channel file \n");
    return;
  }
  if (ch.chan_link_count < 1 || ch.node_extent < 1 || ch.ltype.empty() || ch.nx.empty()) {
    stop_with_message(
        "Error: the channel point-source file %s (CHAN_POINT_INPUT) needs a channel network, "
        "and the project gives none.\n",
        p.chan_point_file.path);
    return;
  }
  p.node_stride = ch.node_extent;
  if (!p.chan_point_flow.allocate(ch.node_extent_product)) {
    stop_with_message("Error allocating memory for variable %s\n", "chan_point_flow");
    return;
  }
  p.chan_point_on = 1;
  ch.chan_water_on = 1;
  p.chan_point_records_read = 0;
  p.line_number = 0;
  p.pending_words.clear();
  const int constituents = ms.transport.chan_con_trans ? ms.transport.num_contaminants : 0;
  const int result = read_chan_point_source(p, ch, constituents);
  if (run_error.error_fatal) return;
  if (constituents > 0 && p.chan_point_count > 0 &&
      (!p.chan_point_mass.allocate(constituents, p.chan_point_count) ||
       !p.chan_point_withdrawn.allocate(p.chan_point_count))) {
    stop_with_message("Error allocating memory for variable %s\n", "chan_point_mass");
    return;
  }
  if (result == 1) {
    p.chan_point_next_time = next_record_time(p);
  } else if (result == 0) {
    p.chan_point_next_time = 0.0;
  } else {
    unexpected_end("");
  }
}

void chan_point_input_step(model_state& ms) {
  chan_point_state& p = ms.channel.points;
  if (!p.chan_point_on) return;
  // Every record whose date has come is read, the last one read staying in force: a date that
  // falls between two steps acts at the first step after it, never skipped.
  while (p.chan_point_next_time > 0.0 &&
         p.chan_point_next_time - ms.current_time < ms.time_tolerance) {
    ++p.chan_point_records_read;
    const int result = read_chan_point_input_record(p);
    if (run_error.error_fatal) return;
    if (result == 1) {
      p.chan_point_next_time = next_record_time(p);
    } else if (result == 0) {
      p.chan_point_next_time = 0.0;
    } else {
      unexpected_end("input ");
      return;
    }
  }
}

void book_chan_point_mass(chan_point_state& p, double h) {
  if (p.chan_point_mass.empty() || p.chan_point_withdrawn.empty()) return;
  for (int k = 1; k <= p.chan_point_count; ++k) {
    const int address = p.chan_point_address[k];
    const double volume = h * p.chan_point_flow[address];
    if (volume < 0.0) {
      p.chan_point_withdrawn[k] += volume;
      continue;
    }
    for (int c = 1; c <= p.chan_point_constituents; ++c)
      p.chan_point_mass[c][k] += volume * p.chan_point_conc[c][address];
  }
}
