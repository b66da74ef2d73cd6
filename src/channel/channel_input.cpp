// Channel input file: reads the channel network in its passes (required header cards, counts,
// connections, link and node cards, sections, break-point tables, lakes)
// into the channel record, checking every link, node, structure, connection, coordinate and
// count against the declared counts and the grid. Called by the network set-up at start-up.
#include "channel/channel_input.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "channel/breakpoint_sections.h"
#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/process_info.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "input/input_steps.h"

namespace {

struct card_word {
  const char* word;
  int code;
};

// The card words of the channel input and grid-stream files, lower case.
constexpr card_word chan_card_words[] = {
    {"alpha", chan_card_alpha},
    {"beta", chan_card_beta},
    {"theta", chan_card_theta},
    {"dx", chan_card_dx},
    {"links", chan_card_links},
    {"maxnodes", chan_card_maxnodes},
    {"connect", chan_card_connect},
    {"link", chan_card_link},
    {"nodes", chan_card_nodes},
    {"trapezoid", chan_card_trapezoid},
    {"subsurface_trapezoid", chan_card_trapezoid_subsurface},
    {"trapezoid_subsurface", chan_card_trapezoid_subsurface},
    {"trap_erode", chan_card_trapezoid_erode},
    {"trapezoid_erode", chan_card_trapezoid_erode},
    {"trapezoid_subsurface_erode", chan_card_trapezoid_subsurface_erode},
    {"trapezoid_erode_subsurface", chan_card_trapezoid_subsurface_erode},
    {"subsurface_trap_erode", chan_card_trapezoid_subsurface_erode},
    {"breakpoint", chan_card_breakpoint},
    {"break_erode", chan_card_breakpoint_erode},
    {"breakpoint_erode", chan_card_breakpoint_erode},
    {"subsurface_breakpoint", chan_card_breakpoint_subsurface},
    {"breakpoint_subsurface", chan_card_breakpoint_subsurface},
    {"breakpoint_subsurface_erode", chan_card_breakpoint_subsurface_erode},
    {"breakpoint_erode_subsurface", chan_card_breakpoint_subsurface_erode},
    {"erodible", chan_card_erodible},
    {"erode", chan_card_erodible},
    {"subsurface", chan_card_subsurface},
    {"lake", chan_card_lake},
    {"mlake", chan_card_mlake},
    {"structure", chan_card_structure},
    {"structtype", chan_card_structtype},
    {"mannings_n", chan_card_mannings_n},
    {"max_erosion", chan_card_max_erosion},
    {"gw_bed_conductivity", chan_card_gw_bed_conductivity},
    {"k_river", chan_card_gw_bed_conductivity},
    {"gw_bed_thickness", chan_card_gw_bed_thickness},
    {"m_river", chan_card_gw_bed_thickness},
    {"dispersion_coeff", chan_card_dispersion_coeff},
    {"decay_coeff", chan_card_decay_coeff},
    {"num_outlets", chan_card_num_outlets},
    {"node", chan_card_node},
    {"elev", chan_card_elev},
    {"xsec", chan_card_xsec},
    {"bottom_width", chan_card_bottom_width},
    {"bankfull_depth", chan_card_bankfull_depth},
    {"side_slope", chan_card_side_slope},
    {"x1", chan_card_x1},
    {"x_y", chan_card_x_y},
    {"npairs", chan_card_npairs},
    {"streamcells", chan_card_streamcells},
    {"cellij", chan_card_cellij},
    {"numnodes", chan_card_numnodes},
    {"linknode", chan_card_linknode},
    {"numstructs", chan_card_numstructs},
    {"upinvert", chan_card_upinvert},
    {"downinvert", chan_card_downinvert},
    {"inlet_disch_coeff", chan_card_inlet_disch_coeff},
    {"rev_flow_disch_coeff", chan_card_rev_flow_disch_coeff},
    {"slope", chan_card_slope},
    {"length", chan_card_length},
    {"width", chan_card_width},
    {"height", chan_card_height},
    {"diameter", chan_card_diameter},
    {"rough_coeff", chan_card_rough_coeff},
    {"a_value", chan_card_a_value},
    {"b_value", chan_card_b_value},
    {"minwse", chan_card_minwse},
    {"initwse", chan_card_initwse},
    {"maxwse", chan_card_maxwse},
    {"numpts", chan_card_numpts},
    {"crest_length", chan_card_crest_length},
    {"crest_low_elev", chan_card_crest_low_elev},
    {"crest_low_loc", chan_card_crest_low_loc},
    {"discharge_coeff_forward", chan_card_discharge_coeff_forward},
    {"discharge_coeff_reverse", chan_card_discharge_coeff_reverse},
    {"steep_slope", chan_card_steep_slope},
    {"shallow_slope", chan_card_shallow_slope},
    {"pointsource", chan_card_pointsource},
    {"num_interp", chan_card_num_interp},
    {"pumpto", chan_card_pumpto},
};

// The structure kinds in the order their names are tried; a type word that begins with a name
// is of that kind.
constexpr const char* structure_names[] = {
    "weir",         "sag_weir",     "round_culvert",     "oval_culvert",
    "rect_culvert", "rating_curve", "scheduled_release", "rule_curve"};

constexpr int max_upstream_links = 20;
// Largest values the reader accepts for the counts that size its arrays.
constexpr int max_link_count = 1000000;
constexpr int max_node_count = 1000000;

bool is_word_sep(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string upper(const char* s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string card_name(int code) {
  return chan_card_name(code);
}

// A property card of a hydraulic structure element sets its field; cards of other structure
// kinds share the fields (a crest elevation is the upstream invert, a weir coefficient the
// inlet coefficient, a shape parameter one of the two shape values).
void set_structure_property(hydraulic_structure& s, int code, double d) {
  switch (code) {
    case chan_card_upinvert:
    case chan_card_crest_low_elev:
      s.upinvert = d;
      break;
    case chan_card_downinvert:
      s.downinvert = d;
      break;
    case chan_card_inlet_disch_coeff:
    case chan_card_discharge_coeff_forward:
      s.inlet_disch_coeff = d;
      break;
    case chan_card_rev_flow_disch_coeff:
    case chan_card_discharge_coeff_reverse:
      s.rev_flow_disch_coeff = d;
      break;
    case chan_card_slope:
      s.slope = d;
      break;
    case chan_card_length:
    case chan_card_crest_length:
      s.length = d;
      break;
    case chan_card_width:
    case chan_card_diameter:
    case chan_card_a_value:
    case chan_card_steep_slope:
      s.shape1 = d;
      break;
    case chan_card_height:
    case chan_card_b_value:
    case chan_card_shallow_slope:
      s.shape2 = d;
      break;
    case chan_card_rough_coeff:
      s.rough_coeff = d;
      break;
    default:
      s.crest_low_loc = d;
      break;
  }
}

// The reader of one channel input file: its lines, the counts of the count pass and the
// per-link values that only the reader needs.
class chan_reader {
 public:
  chan_reader(model_state& ms, const char* file_name)
      : ms_(ms), ch_(ms.channel), file_(file_name == nullptr ? "" : file_name) {}

  int run(file_handle& h);

 private:
  // Messages of the checks of values.
  bool fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool bad_value(int code, int line, long long value, const char* rule);
  bool bad_double(int code, int line, double value, const char* rule);
  bool bad_number(int code, int line, const char* what);
  bool needs_link(int code, int line);
  bool needs_node(int code, int line);

  // Strict reading of the values after a card word; false (after the message) when missing or
  // not a number.
  bool take_int(std::string& rest, int code, int line, const char* what, int& out);
  bool take_double(std::string& rest, int code, int line, const char* what, double& out);
  bool take_in_range(std::string& rest, int code, int line, const char* what, int lo, int hi,
                     const char* rule, int& out);

  bool header();
  bool required_cards();
  bool allocate_link_arrays();
  bool count_pass();
  void section_kind(int code, int link);
  bool after_count_checks();
  bool collect_sections();
  bool allocate_node_arrays();
  bool connection_pass();
  bool main_pass();
  bool structure_element(std::string& rest, int line);
  bool link_number(std::string& rest, int code, int line, int& link);
  bool check_structures();
  bool check_connections();
  bool check_bed_elevations();
  void bed_parameters();
  bool trapezoid_sections();
  bool breakpoint_pass();
  void finish_nodes();
  bool lake_pass();
  bool allocate_lakes();
  void fill_lakes();
  bool keep_original_network();
  void print_summary() const;

  model_state& ms_;
  channel_state& ch_;
  std::string file_;
  std::vector<numbered_line> lines_;
  std::size_t first_after_required_ = 0;  // index of the line after the fifth required card
  std::size_t first_after_connect_ = 0;   // index of the line after the last CONNECT card

  int links_ = 0;
  int max_nodes_ = 0;
  int connect_cards_ = 0;
  int max_upstream_ = 0;
  int trap_links_ = 0;
  int trap_subsurface_ = 0;
  int trap_erodible_ = 0;
  int bp_links_ = 0;
  int bp_subsurface_ = 0;
  int bp_erodible_ = 0;
  int erodible_bp_position_ = 0;
  int subsurface_bp_position_ = 0;
  int lake_count_ = 0;
  int lake_loss_ = 0;
  int structure_links_ = 0;
  int structure_elements_ = 0;
  int numstructs_sum_ = 0;
  int groundwater_links_ = 0;
  int max_pairs_ = 0;
  int max_num_interp_ = 0;
  int max_numpts_ = 0;
  int pointsource_cards_ = 0;
  int pumpto_cards_ = 0;
  std::vector<double> mannings_n_;  // per link: Manning's n, 0 when not given
  std::vector<double> bed_k_;       // per link: bed conductivity (GW_BED_CONDUCTIVITY)
  std::vector<double> bed_m_;       // per link: bed thickness (GW_BED_THICKNESS)
  std::vector<std::vector<breakpoint_section>> sections_;  // per link: its break-point sections
  std::vector<int> element_link_;                          // per structure element: its link
  link_node_array<char> got_xsec_;                         // per node: an XSEC card marks it
  link_node_array<char> got_elev_;                         // per node: an ELEV card gives its bed
  std::vector<int> link_block_line_;  // per link: line of its LINK card in the main pass, 0 none
};

bool chan_reader::fail(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  stop_with_message("%s", text);
  return false;
}

bool chan_reader::bad_value(int code, int line, long long value, const char* rule) {
  return fail("Error: the %s card on line %d of the channel input file %s gives %lld: %s.\n",
              card_name(code).c_str(), line, file_.c_str(), value, rule);
}

bool chan_reader::bad_double(int code, int line, double value, const char* rule) {
  return fail("Error: the %s card on line %d of the channel input file %s gives %g: %s.\n",
              card_name(code).c_str(), line, file_.c_str(), value, rule);
}

bool chan_reader::bad_number(int code, int line, const char* what) {
  return fail(
      "Error: the %s card on line %d of the channel input file %s lacks %s, or it is "
      "not a number.\n",
      card_name(code).c_str(), line, file_.c_str(), what);
}

bool chan_reader::needs_link(int code, int line) {
  return fail(
      "Error: the %s card on line %d of the channel input file %s comes before any LINK "
      "card.\n",
      card_name(code).c_str(), line, file_.c_str());
}

bool chan_reader::needs_node(int code, int line) {
  return fail(
      "Error: the %s card on line %d of the channel input file %s comes before a NODE "
      "card of its link.\n",
      card_name(code).c_str(), line, file_.c_str());
}

bool chan_reader::take_int(std::string& rest, int code, int line, const char* what, int& out) {
  if (!::take_int(rest, out)) return bad_number(code, line, what);
  return true;
}

bool chan_reader::take_double(std::string& rest, int code, int line, const char* what,
                              double& out) {
  if (!::take_double(rest, out)) return bad_number(code, line, what);
  return true;
}

bool chan_reader::take_in_range(std::string& rest, int code, int line, const char* what, int lo,
                                int hi, const char* rule, int& out) {
  if (!take_int(rest, code, line, what, out)) return false;
  if (out < lo || out > hi) return bad_value(code, line, out, rule);
  return true;
}

bool chan_reader::header() {
  std::string first = lines_.empty() ? std::string() : lines_[0].text;
  std::string token;
  next_token(first, token);
  if (token.size() >= 10 && lower(token).compare(0, 10, "torva_chan") == 0) return true;
  return fail(
      "Error: the channel input file %s does not begin with the TORVA_CHAN card; it is "
      "not a channel input file.\n",
      file_.c_str());
}

bool chan_reader::required_cards() {
  int found = 0;
  std::size_t i = 1;
  for (; i < lines_.size() && found < 5; ++i) {
    std::string rest = lines_[i].text;
    const int code = chan_input_card_code(rest);
    const int line = lines_[i].number;
    switch (code) {
      case chan_card_alpha:
        if (!take_double(rest, code, line, "its value", ch_.alpha)) return false;
        break;
      case chan_card_beta:
        if (!take_double(rest, code, line, "its value", ch_.beta)) return false;
        break;
      case chan_card_theta:
        if (!take_double(rest, code, line, "its value", ch_.theta)) return false;
        break;
      case chan_card_links:
        if (!take_in_range(rest, code, line, "the link count", 1, max_link_count,
                           "the link count must lie between 1 and 1000000", links_))
          return false;
        break;
      case chan_card_maxnodes:
        if (!take_in_range(rest, code, line, "the node count", 1, max_node_count,
                           "the largest node count must lie between 1 and 1000000", max_nodes_))
          return false;
        break;
      default:
        continue;
    }
    ++found;
  }
  if (found < 5)
    return fail(
        "Premature end-of-file in the channel input file.\n"
        "The channel input file does not contain all the required parameter cards.\n"
        "These include: ALPHA, BETA, THETA, DX, LINKS, and MAXNODES.\n"
        "Repair your channel input file and try again.  These cards must appear at\n"
        "The beginning of the file before and COORD or LINK cards.\n"
        "Program terminated in read_chan_input.\n");
  first_after_required_ = i;
  if (links_ < 1 || max_nodes_ < 1)
    return fail(
        "Error: the channel input file %s gives no %s card among its first five "
        "header cards.\n",
        file_.c_str(), links_ < 1 ? "LINKS" : "MAXNODES");
  const long long product = static_cast<long long>(links_ + 1) * (max_nodes_ + 1);
  if (product > INT_MAX)
    return fail(
        "Error: the channel input file %s declares %d links of up to %d nodes: more "
        "nodes than the model can number.\n",
        file_.c_str(), links_, max_nodes_);
  ch_.chan_link_count = links_;
  ch_.max_nodes = max_nodes_;
  ch_.link_extent = links_ + 1;
  ch_.node_extent = max_nodes_ + 1;
  ch_.node_extent_product = static_cast<int>(product);
  return allocate_link_arrays();
}

bool chan_reader::allocate_link_arrays() {
  alloc_1d_int(ch_.ltype, links_, "ltype");
  alloc_1d_int(ch_.ldex, links_, "ldex");
  alloc_1d_int(ch_.ndep, links_, "ndep");
  alloc_1d_int(ch_.dslink, links_, "dslink");
  alloc_1d_int(ch_.nx1, links_, "nx1");
  alloc_1d_int(ch_.nx, links_, "nx");
  alloc_1d_int(ch_.og_nx1, links_, "og_nx1");
  alloc_1d_int(ch_.bplink, links_, "bplink");
  alloc_1d_int(ch_.interp_list, links_, "interp_list");
  alloc_1d_int(ch_.num_xsec_per_bp_link, links_, "num_xsec_per_bp_link");
  alloc_1d_double(ch_.dx, links_, "dx");
  alloc_1d_double(ch_.link_inv_n, links_, "link_inv_n");
  if (ch_.ltype.empty() || ch_.ldex.empty() || ch_.ndep.empty() || ch_.dslink.empty() ||
      ch_.nx1.empty() || ch_.nx.empty() || ch_.og_nx1.empty() || ch_.bplink.empty() ||
      ch_.interp_list.empty() || ch_.num_xsec_per_bp_link.empty() || ch_.dx.empty() ||
      ch_.link_inv_n.empty()) {
    stop_now();
    return false;
  }
  mannings_n_.assign(links_ + 1, 0.0);
  bed_k_.assign(links_ + 1, 0.0);
  bed_m_.assign(links_ + 1, 0.0);
  sections_.assign(links_ + 1, {});
  return true;
}

// The section kind and the counts that follow it, from the kind cards of a link (TRAPEZOID and
// BREAKPOINT with their subsurface and erodible forms, ERODIBLE, SUBSURFACE, LAKE, STRUCTURE).
void chan_reader::section_kind(int code, int link) {
  int& type = ch_.ltype[link];
  switch (code) {
    case chan_card_trapezoid:
    case chan_card_trapezoid_subsurface:
    case chan_card_trapezoid_erode:
    case chan_card_trapezoid_subsurface_erode:
      type = 4 + (code - chan_card_trapezoid);
      ch_.ldex[link] = link;
      ++trap_links_;
      if (type & 1) ++trap_subsurface_;
      if (type & 2) ++trap_erodible_;
      break;
    case chan_card_breakpoint:
      type = 8;
      ch_.ldex[link] = link;
      ++bp_links_;
      break;
    case chan_card_breakpoint_erode:
    case chan_card_breakpoint_subsurface_erode:
      type = code == chan_card_breakpoint_erode ? 10 : 11;
      ch_.ldex[link] = link;
      ch_.bplink[link] = ++erodible_bp_position_;
      ++bp_links_;
      ++bp_erodible_;
      if (type & 1) ++bp_subsurface_;
      break;
    case chan_card_breakpoint_subsurface:
      type = 9;
      ch_.ldex[link] = link;
      ch_.bplink[link] = ++subsurface_bp_position_;
      ++bp_links_;
      ++bp_subsurface_;
      break;
    case chan_card_erodible:
      if ((type & 2) == 0) {
        type |= 2;
        if (type & 4) ++trap_erodible_;
        if (type & 8) {
          ++bp_erodible_;
          // Every erodible break-point link takes a plane of the per-node section arrays.
          ch_.bplink[link] = ++erodible_bp_position_;
        }
      }
      break;
    case chan_card_subsurface:
      if ((type & 1) == 0) {
        type |= 1;
        if (type & 4) ++trap_subsurface_;
        if (type & 8) ++bp_subsurface_;
      }
      break;
    case chan_card_lake:
      type = 32;
      ch_.ldex[link] = ++lake_count_;
      break;
    case chan_card_structure:
      type = 64;
      ch_.nx1[link] = 2;
      ch_.ldex[link] = link;
      ++structure_links_;
      break;
    default:
      break;
  }
}

bool chan_reader::count_pass() {
  int link = 0;
  std::vector<std::pair<int, int>> element_cards;  // (line, link) of STRUCTTYPE and NUMSTRUCTS
  for (std::size_t i = first_after_required_; i < lines_.size(); ++i) {
    std::string rest = lines_[i].text;
    const int code = chan_input_card_code(rest);
    const int line = lines_[i].number;
    const bool link_card = code == chan_card_dx || code == chan_card_nodes ||
                           (code >= chan_card_trapezoid && code <= chan_card_structtype) ||
                           code == chan_card_mannings_n || code == chan_card_gw_bed_conductivity ||
                           code == chan_card_gw_bed_thickness || code == chan_card_npairs ||
                           code == chan_card_numstructs;
    if (link_card && code != chan_card_mlake && link == 0) return needs_link(code, line);
    int v = 0;
    double d = 0.0;
    switch (code) {
      case chan_card_dx:
        if (!take_double(rest, code, line, "the node spacing", d)) return false;
        if (d < 0.0) return bad_double(code, line, d, "a node spacing cannot be negative");
        ch_.dx[link] = d;
        break;
      case chan_card_connect: {
        ++connect_cards_;
        int l = 0;
        int ds = 0;
        if (!take_int(rest, code, line, "the link", l) ||
            !take_int(rest, code, line, "the downstream link", ds) ||
            !take_int(rest, code, line, "the number of upstream links", v))
          return false;
        if (v < 0)
          return bad_value(code, line, v, "the number of upstream links cannot be negative");
        max_upstream_ = std::max(max_upstream_, v);
        break;
      }
      case chan_card_link: {
        char rule[80];
        snprintf(rule, sizeof rule, "links are numbered 1 to %d", links_);
        if (!take_in_range(rest, code, line, "the link number", 1, links_, rule, link))
          return false;
        break;
      }
      case chan_card_nodes: {
        char rule[96];
        snprintf(rule, sizeof rule, "a link has 1 to MAXNODES (%d) nodes", max_nodes_);
        if (!take_in_range(rest, code, line, "the node count", 1, max_nodes_, rule, v))
          return false;
        ch_.nx1[link] = v;
        break;
      }
      case chan_card_trapezoid:
      case chan_card_trapezoid_subsurface:
      case chan_card_trapezoid_erode:
      case chan_card_trapezoid_subsurface_erode:
      case chan_card_breakpoint:
      case chan_card_breakpoint_erode:
      case chan_card_breakpoint_subsurface_erode:
      case chan_card_breakpoint_subsurface:
      case chan_card_erodible:
      case chan_card_subsurface:
      case chan_card_lake:
      case chan_card_structure:
        section_kind(code, link);
        break;
      case chan_card_mlake:
        lake_loss_ = 1;
        break;
      case chan_card_structtype: {
        std::string word;
        next_token(rest, word);
        const std::string w = lower(word);
        bool known = false;
        for (const char* name : structure_names)
          if (w.compare(0, std::strlen(name), name) == 0) known = true;
        if (!known)
          return fail(
              "Error: the STRUCTTYPE card on line %d of the channel input file %s names "
              "the structure type \"%s\",\nwhich is none of WEIR, SAG_WEIR, "
              "ROUND_CULVERT, OVAL_CULVERT, RECT_CULVERT, RATING_CURVE,\n"
              "SCHEDULED_RELEASE and RULE_CURVE.\n",
              line, file_.c_str(), word.c_str());
        ++structure_elements_;
        element_cards.push_back({line, link});
        break;
      }
      case chan_card_mannings_n:
        if (!take_double(rest, code, line, "Manning's n", d)) return false;
        if (d < 1e-8)
          return fail(
              "Error encountered when reading the channel input file, link %d:\n"
              "    Manning's Roughness is 0.000\n",
              link);
        mannings_n_[link] = d;
        break;
      case chan_card_gw_bed_conductivity:
        if (!take_double(rest, code, line, "the bed conductivity", bed_k_[link])) return false;
        ++groundwater_links_;
        break;
      case chan_card_gw_bed_thickness:
        if (!take_double(rest, code, line, "the bed thickness", bed_m_[link])) return false;
        break;
      case chan_card_npairs:
        if (!take_in_range(rest, code, line, "the pair count", 2, 1000000,
                           "a section has 2 to 1000000 pairs", v))
          return false;
        max_pairs_ = std::max(max_pairs_, v);
        ++ch_.num_xsec_per_bp_link[link];
        break;
      case chan_card_numstructs:
        if (!take_in_range(rest, code, line, "the element count", 0, 1000000,
                           "a link has 0 to 1000000 structure elements", v))
          return false;
        numstructs_sum_ += v;
        if (numstructs_sum_ > 1000000)
          return bad_value(code, line, numstructs_sum_,
                           "the network has at most 1000000 structure elements");
        element_cards.push_back({line, link});
        break;
      case chan_card_numpts: {
        if (!take_in_range(rest, code, line, "the number of search cells", 0, 10000000,
                           "a lake has 0 to 10000000 search cells", v))
          return false;
        max_numpts_ = std::max(max_numpts_, v);
        break;
      }
      case chan_card_pointsource:
        ++pointsource_cards_;
        break;
      case chan_card_pumpto:
        ++pumpto_cards_;
        break;
      case chan_card_num_interp:
        if (!take_int(rest, code, line, "the interpolation count", v)) return false;
        max_num_interp_ = std::max(max_num_interp_, v);
        break;
      default:
        break;
    }
  }
  // Structure cards belong to structure links: the element table has rows for those only.
  for (const auto& [line, link] : element_cards)
    if ((ch_.ltype[link] & 64) == 0)
      return fail(
          "Error: a structure card on line %d of the channel input file %s belongs to "
          "link %d,\nwhich is not a STRUCTURE link.\n",
          line, file_.c_str(), link);
  return true;
}

void chan_reader::print_summary() const {
  int max_xsec = 0;
  for (int l = 1; l <= links_; ++l)
    if (ch_.ltype[l] & 8) max_xsec = std::max(max_xsec, ch_.num_xsec_per_bp_link[l]);
  printf("\n\nChannel input data:\n");
  printf("  max. number of u.s. dependencies:      %d\n", max_upstream_);
  printf("  number of trapezoidal links:           %d\n", trap_links_);
  printf("    num w/ subsurface attribute:           %d\n", trap_subsurface_);
  printf("    num w/ erodible attribute:             %d\n", trap_erodible_);
  printf("  number of breakpoint links:            %d\n", bp_links_);
  printf("    num w/ subsurface attribute:           %d\n", bp_subsurface_);
  printf("    num w/ erodible attribute:             %d\n", bp_erodible_);
  printf("    max number of xsec in any bp link:     %d\n", max_xsec);
  printf("    max number of xsec pairs:              %d\n", max_pairs_);
  printf("  number of lake links:                  %d\n", lake_count_);
  printf("  number of hydraulic structure links:   %d\n", structure_links_);
  printf("    total no. of hydr. structure elements: %d\n", structure_elements_);
  printf("  number of groundwater links:           %d\n", groundwater_links_);
  if (groundwater_links_ != trap_subsurface_ + bp_subsurface_)
    printf(
        " ===> Error: the number of specified subsurface links does not match the number of "
        "subsurface \nparameters. Check your subsurface links to ensure that they specify the "
        "bed concuctivity and thickness\n");
}

bool chan_reader::after_count_checks() {
  if (numstructs_sum_ != structure_elements_)
    return fail(
        "\nThe sum of NUMSTRUCTS arguments is %d, while the total number\n"
        "of hydraulic structure element cards (e.g. WEIR, ROUND_CULVERT,\n"
        "etc.) is %d.  This inconstency is intolerable.  Check your channel\n"
        "input file.  Program terminated.\n",
        numstructs_sum_, structure_elements_);
  if (structure_links_ > 0) alloc_2d_int_named(ch_.link_structures, links_, 2, "link_structures");
  if (structure_elements_ > 0) {
    struct_alloc(structure_elements_, ch_.structures);
    ch_.structure_count = structure_elements_;
    element_link_.assign(structure_elements_ + 1, 0);
  }
  ch_.erodible_bp_links = erodible_bp_position_;
  if (erodible_bp_position_ > 0 && max_pairs_ > 0) {
    alloc_3d_double_named(erodible_bp_position_, max_nodes_, max_pairs_, ch_.xbp_lnn, "xbp_lnn");
    alloc_3d_double_named(erodible_bp_position_, max_nodes_, max_pairs_, ch_.ybp_lnn, "ybp_lnn");
    alloc_2d_double_named(erodible_bp_position_, max_nodes_, ch_.max_yp, "max_yp");
    alloc_2d_double_named(erodible_bp_position_, max_nodes_, ch_.ch_sand_vol0, "ch_sand_vol0");
    if (ch_.xbp_lnn.empty() || ch_.ybp_lnn.empty() || ch_.max_yp.empty() ||
        ch_.ch_sand_vol0.empty()) {
      stop_now();
      return false;
    }
  }
  for (int l = 1; l <= links_; ++l)
    ch_.interp_list[l] = (ch_.ltype[l] & 8) && ch_.num_xsec_per_bp_link[l] > 1 ? 1 : 0;
  if (!chan_input_quiet(ms_)) print_summary();
  if (max_upstream_ > max_upstream_links)
    return fail(
        "Whoa there pardner!  You mean to tell me that you have more than 20\n"
        "channels flowing into one point?  How can that be?  I reckon that you\n"
        "or that new-fangled interface your a usin' have made a serious mistake.\n"
        "OR maybe you are trying to use this here model to simulate the runoff\n"
        "into the Great Lakes!.  In either case, I ain't gonna let you do it.\n"
        "Program terminated because the maximum number of upstream dependencies\n"
        "in the read_chan_input subroutine was equal to %d, which is, frankly, a\n"
        "reediculous number.  Fifteen yard penalty from the spot of the foul.\n",
        max_upstream_);
  if (links_ != connect_cards_)
    return fail(
        "Your channel input file contains %d links, and %d CONNECT cards\n"
        "These two numbers must be equal.  Therefore, you have a major \n"
        "problem with your channel input file.  TORVA cannot proceed.\n"
        "Fifteen yard penalty from the line of scrimmage.\n"
        "program terminated.\n",
        links_, connect_cards_);
  return true;
}

// Gathers the sections of every break-point link: NPAIRS opens a section of the current node,
// NUM_INTERP gives its level count and X1 its next pair.
bool chan_reader::collect_sections() {
  int link = 0;
  int node = 0;
  for (std::size_t i = first_after_required_; i < lines_.size(); ++i) {
    std::string rest = lines_[i].text;
    const int code = chan_input_card_code(rest);
    const int line = lines_[i].number;
    if (code == chan_card_link) {
      if (!link_number(rest, code, line, link)) return false;
      node = 0;
      continue;
    }
    if (link == 0 || (ch_.ltype[link] & 8) == 0) continue;
    std::vector<breakpoint_section>& secs = sections_[link];
    switch (code) {
      case chan_card_node: {
        char rule[96];
        snprintf(rule, sizeof rule, "link %d has nodes 1 to %d", link, ch_.nx1[link]);
        if (!take_in_range(rest, code, line, "the node number", 1, ch_.nx1[link], rule, node))
          return false;
        break;
      }
      case chan_card_npairs: {
        if (node == 0) return needs_node(code, line);
        breakpoint_section s;
        s.node = node;
        take_int(rest, code, line, "the pair count", s.npairs);  // checked by the count pass
        secs.push_back(std::move(s));
        break;
      }
      case chan_card_num_interp:
        if (secs.empty())
          return fail(
              "Error: the NUM_INTERP card on line %d of the channel input file %s comes "
              "before an NPAIRS card of link %d.\n",
              line, file_.c_str(), link);
        take_int(rest, code, line, "the interpolation count", secs.back().num_interp);
        break;
      case chan_card_x1: {
        if (secs.empty() || static_cast<int>(secs.back().x.size()) >= secs.back().npairs)
          return fail(
              "\n\nError: There are more X1 cards than the NPAIRS card specifies \n"
              "for table %d in link %d.\n",
              static_cast<int>(secs.size()), link);
        double x = 0.0;
        double z = 0.0;
        if (!take_double(rest, code, line, "the station", x) ||
            !take_double(rest, code, line, "the elevation", z))
          return false;
        // Stations run across the section from one bank to the other; a vertical wall repeats
        // a station.
        if (!secs.back().x.empty() && x < secs.back().x.back())
          return fail(
              "Error: the X1 card on line %d of the channel input file %s gives station %g "
              "after station %g in table %d of link %d (node %d); the stations of a "
              "cross-section must not decrease.\n",
              line, file_.c_str(), x, secs.back().x.back(), static_cast<int>(secs.size()), link,
              node);
        secs.back().x.push_back(x);
        secs.back().z.push_back(z);
        break;
      }
      default:
        break;
    }
  }
  for (int l = 1; l <= links_; ++l) {
    const std::vector<breakpoint_section>& secs = sections_[l];
    for (std::size_t k = 0; k < secs.size(); ++k)
      if (static_cast<int>(secs[k].x.size()) != secs[k].npairs)
        return fail(
            "Error: table %d in link %d of the channel input file %s has %d X1 cards, "
            "but its NPAIRS card announces %d.\n",
            static_cast<int>(k) + 1, l, file_.c_str(), static_cast<int>(secs[k].x.size()),
            secs[k].npairs);
  }
  return true;
}

bool chan_reader::allocate_node_arrays() {
  const int* counts = ch_.nx1.data();
  bool ok = true;
  auto node_array = [&](auto& a) { ok = a.allocate(links_, counts) && ok; };
  node_array(ch_.bel);
  node_array(ch_.yp);
  node_array(ch_.qp);
  node_array(ch_.bottom);
  node_array(ch_.bankfull_dep);
  node_array(ch_.sslope);
  node_array(ch_.sslope2);
  node_array(ch_.max_eros);
  node_array(ch_.lnx);
  node_array(ch_.lny);
  node_array(ch_.Fr);
  node_array(ch_.qp_vol);
  node_array(ch_.qp_vol_sed);
  node_array(ch_.table_num);
  node_array(got_xsec_);
  node_array(got_elev_);
  if (groundwater_links_ > 0 || ch_.stream_loss) {
    node_array(ch_.Krb);
    node_array(ch_.Mrb);
  }
  if (pointsource_cards_ > 0) node_array(ch_.stream_pointsource);
  if (pumpto_cards_ > 0) node_array(ch_.stream_pumps);
  if (lake_count_ > 0) node_array(ch_.pct_flooded);
  if (erodible_bp_position_ > 0) node_array(ch_.new_bel);
  ch_.max_upstream = max_upstream_;
  ok = ch_.uslinks.allocate(links_, std::max(max_upstream_, 1)) && ok;
  if (!ok) {
    raw_report_alloc_failure("channel node arrays");
    stop_now();
  }
  return ok;
}

bool chan_reader::connection_pass() {
  int read = 0;
  std::size_t i = 1;
  for (; i < lines_.size() && read < links_; ++i) {
    std::string rest = lines_[i].text;
    const int code = chan_input_card_code(rest);
    if (code != chan_card_connect) continue;
    ++read;
    const int line = lines_[i].number;
    char rule[80];
    snprintf(rule, sizeof rule, "links are numbered 1 to %d", links_);
    int link = 0;
    int ds = 0;
    int n = 0;
    if (!take_in_range(rest, code, line, "the link", 1, links_, rule, link)) return false;
    snprintf(rule, sizeof rule, "a downstream link is 0 (none) or 1 to %d", links_);
    if (!take_in_range(rest, code, line, "the downstream link", 0, links_, rule, ds)) return false;
    // The count pass sized uslinks from the CONNECT cards after the required cards; one before
    // them may give more upstream links than that.
    snprintf(rule, sizeof rule, "no CONNECT card after the required cards gives more than %d",
             max_upstream_);
    if (!take_in_range(rest, code, line, "the number of upstream links", 0, max_upstream_, rule, n))
      return false;
    ch_.dslink[link] = ds;
    ch_.ndep[link] = n;
    snprintf(rule, sizeof rule, "upstream links are numbered 1 to %d", links_);
    for (int k = 1; k <= n; ++k) {
      int up = 0;
      if (!take_in_range(rest, code, line, "an upstream link", 1, links_, rule, up)) return false;
      ch_.uslinks[link][k] = up;
    }
  }
  if (read < links_)
    return fail(
        "Premature end-of-file in the channel input file.\n"
        "While searching for %d CONNECT cards\n"
        "Program terminated in read_chan_input.\n",
        links_);
  first_after_connect_ = i;
  if (numstructs_sum_ >= 1)
    for (int l = 1; l <= links_; ++l) {
      ch_.link_structures[l][1] = 10000;
      ch_.link_structures[l][2] = 0;
    }
  return true;
}

bool chan_reader::link_number(std::string& rest, int code, int line, int& link) {
  char rule[80];
  snprintf(rule, sizeof rule, "links are numbered 1 to %d", links_);
  return take_in_range(rest, code, line, "the link number", 1, links_, rule, link);
}

bool chan_reader::structure_element(std::string& rest, int line) {
  if (ch_.structure_count >= (ch_.structures.empty() ? 0 : ch_.structures.count()))
    return fail(
        "Error: the STRUCTTYPE card on line %d of the channel input file %s opens more "
        "structure elements than the file's NUMSTRUCTS cards declare.\n",
        line, file_.c_str());
  const int e = ++ch_.structure_count;  // counted again from 0 by the main pass
  hydraulic_structure& s = ch_.structures[e];
  element_link_[e] = 0;
  std::string word;
  next_token(rest, word);
  const std::string w = lower(word);
  int kind = 0;
  for (int k = 0; k < 8 && kind == 0; ++k)
    if (w.compare(0, std::strlen(structure_names[k]), structure_names[k]) == 0) kind = k + 1;
  s.structure_type = kind;
  if (kind == structure_rating_curve || kind == structure_rule_curve ||
      kind == structure_scheduled_release) {
    std::string name;
    const bool named = next_token(rest, name) != 0;
    if (kind == structure_scheduled_release) {
      if (!named) {
        raise_error(err_scheduled_release_series_not_named);
        return false;
      }
      s.ts = ts_find(name.c_str());
      if (s.ts == nullptr) {
        raise_error(err_scheduled_release_series_not_found);
        return false;
      }
    } else {
      const bool rating = kind == structure_rating_curve;
      if (!named) {
        raise_error(rating ? err_rating_curve_series_not_named : err_rule_curve_series_not_named);
        return false;
      }
      s.es = elev_series_find(name.c_str());
      if (s.es == nullptr) {
        raise_error(rating ? err_rating_curve_series_not_found : err_rule_curve_series_not_found);
        return false;
      }
    }
  }
  return true;
}

bool chan_reader::main_pass() {
  int link = 0;
  int node = 0;
  ch_.structure_count = 0;
  link_block_line_.assign(static_cast<std::size_t>(links_) + 1, 0);
  for (std::size_t i = first_after_connect_; i < lines_.size(); ++i) {
    std::string rest = lines_[i].text;
    const int code = chan_input_card_code(rest);
    const int line = lines_[i].number;
    const bool node_card = (code >= chan_card_elev && code <= chan_card_side_slope) ||
                           code == chan_card_x_y || code == chan_card_max_erosion ||
                           code == chan_card_pointsource || code == chan_card_pumpto;
    if ((node_card || code == chan_card_node || code == chan_card_numstructs ||
         code == chan_card_structtype) &&
        link == 0)
      return needs_link(code, line);
    if (code == chan_card_pointsource && (ch_.ltype[link] & 32)) node = 1;
    if (node_card && node == 0) return needs_node(code, line);
    if ((code == chan_card_numstructs || code == chan_card_structtype) &&
        (ch_.ltype[link] & 64) == 0)
      return fail(
          "Error: a structure card on line %d of the channel input file %s belongs to "
          "link %d,\nwhich is not a STRUCTURE link.\n",
          line, file_.c_str(), link);
    double d = 0.0;
    hydraulic_structure* s =
        ch_.structure_count > 0 ? &ch_.structures[ch_.structure_count] : nullptr;
    switch (code) {
      case chan_card_link:
        if (!link_number(rest, code, line, link)) return false;
        // A second block for a link would silently overwrite the first one's cards.
        if (link_block_line_[link] != 0)
          return fail(
              "Error: link %d of the channel input file %s has a second LINK block on line "
              "%d (the first is on line %d); each link is described once.\n",
              link, file_.c_str(), line, link_block_line_[link]);
        link_block_line_[link] = line;
        node = 0;
        break;
      case chan_card_node: {
        char rule[96];
        snprintf(rule, sizeof rule, "link %d has nodes 1 to %d", link, ch_.nx1[link]);
        if (!take_in_range(rest, code, line, "the node number", 1, ch_.nx1[link], rule, node))
          return false;
        break;
      }
      case chan_card_elev:
        if (!take_double(rest, code, line, "the bed elevation", ch_.bel(link, node))) return false;
        got_elev_(link, node) = 1;
        break;
      case chan_card_xsec:
        got_xsec_(link, node) = 1;
        break;
      case chan_card_bottom_width:
      case chan_card_bankfull_depth:
      case chan_card_side_slope: {
        if (!take_double(rest, code, line, "its value", d)) return false;
        if (d < 0.0) return bad_double(code, line, d, "a section dimension cannot be negative");
        link_node_array<double>& a = code == chan_card_bottom_width     ? ch_.bottom
                                     : code == chan_card_bankfull_depth ? ch_.bankfull_dep
                                                                        : ch_.sslope;
        a(link, node) = d;
        break;
      }
      case chan_card_max_erosion:
        if (!take_double(rest, code, line, "its value", ch_.max_eros(link, node))) return false;
        break;
      case chan_card_x_y:
        if (!take_double(rest, code, line, "the x coordinate", ch_.lnx(link, node)) ||
            !take_double(rest, code, line, "the y coordinate", ch_.lny(link, node)))
          return false;
        break;
      case chan_card_numstructs:
        take_int(rest, code, line, "the element count", ch_.link_structures[link][0]);
        break;
      case chan_card_structtype: {
        if (!structure_element(rest, line)) return false;
        const int e = ch_.structure_count;
        element_link_[e] = link;
        ch_.link_structures[link][1] = std::min(ch_.link_structures[link][1], e);
        ch_.link_structures[link][2] = std::max(ch_.link_structures[link][2], e);
        break;
      }
      case chan_card_upinvert:
      case chan_card_downinvert:
      case chan_card_inlet_disch_coeff:
      case chan_card_rev_flow_disch_coeff:
      case chan_card_slope:
      case chan_card_length:
      case chan_card_width:
      case chan_card_height:
      case chan_card_diameter:
      case chan_card_rough_coeff:
      case chan_card_a_value:
      case chan_card_b_value:
      case chan_card_crest_length:
      case chan_card_crest_low_elev:
      case chan_card_crest_low_loc:
      case chan_card_discharge_coeff_forward:
      case chan_card_discharge_coeff_reverse:
      case chan_card_steep_slope:
      case chan_card_shallow_slope: {
        // A property card before any STRUCTTYPE has no element to change.
        if (!take_double(rest, code, line, "its value", d)) return false;
        if (s == nullptr) break;
        set_structure_property(*s, code, d);
        break;
      }
      case chan_card_pointsource: {
        std::string name;
        next_token(rest, name);
        ch_.stream_pointsource(link, node) = name.empty() ? nullptr : ts_find(name.c_str());
        break;
      }
      case chan_card_pumpto: {
        pump_spec* p = read_pump_spec(rest, link, ch_.ltype[link]);
        if (p == nullptr && (run_error.error_fatal != 0 || run_error.error_code != 0)) return false;
        ch_.stream_pumps(link, node) = p;
        break;
      }
      default:
        break;
    }
  }
  return true;
}

// Structure elements whose inputs leave them without a discharge law: a weir needs a crest
// length and a forward discharge coefficient; a sag weir's crest sags, so its second (shallow)
// slope exceeds its first; a culvert needs a barrel of some size.
bool chan_reader::check_structures() {
  for (int e = 1; e <= ch_.structure_count; ++e) {
    const hydraulic_structure& s = ch_.structures[e];
    const int link = element_link_[e];
    const int kind = s.structure_type;
    const char* name = kind >= 1 && kind <= 8 ? structure_names[kind - 1] : "";
    const bool weir = kind == structure_weir || kind == structure_sag_weir;
    const bool sag = kind == structure_sag_weir;
    if (weir && s.length <= 0.0) {
      return fail(
          "Error: the %s structure element %d of link %d in the channel input file %s has a "
          "crest length of %g; its CREST_LENGTH (or LENGTH) card must give a positive length.\n",
          upper(name).c_str(), e, link, file_.c_str(), s.length);
    } else if (sag && s.shape1 == s.shape2) {
      return fail(
          "Error: the SAG_WEIR structure element %d of link %d in the channel input file %s "
          "has two equal side slopes (%g);\nits crest does not sag.\n",
          e, link, file_.c_str(), s.shape1);
    } else if (sag && s.shape1 > s.shape2) {
      return fail(
          "Error: the SAG_WEIR structure element %d of link %d in the channel input file %s "
          "has a first slope (STEEP_SLOPE %g) above its second (SHALLOW_SLOPE %g); the second "
          "slope must be the larger one for the crest to sag.\n",
          e, link, file_.c_str(), s.shape1, s.shape2);
    } else if (weir && s.inlet_disch_coeff <= 0.0) {
      return fail(
          "Error: the %s structure element %d of link %d in the channel input file %s has a "
          "forward discharge coefficient of %g; its DISCHARGE_COEFF_FORWARD (or "
          "INLET_DISCH_COEFF) card must give a positive coefficient.\n",
          upper(name).c_str(), e, link, file_.c_str(), s.inlet_disch_coeff);
    }
    if ((kind == structure_round_culvert || kind == structure_oval_culvert ||
         kind == structure_rect_culvert) &&
        s.shape1 <= 0.0)
      return fail(
          "Error: the %s structure element %d of link %d in the channel input file %s has a "
          "barrel of size %g; its DIAMETER (or WIDTH) card must give a positive size.\n",
          upper(name).c_str(), e, link, file_.c_str(), s.shape1);
  }
  return true;
}

// The links form a tree draining to the outlet: no link drains into itself, following the
// downstream links from any link ends at a link with none, and the CONNECT cards agree both
// ways (a link's downstream link lists it among its upstream links, and each upstream link
// names it as its downstream link).
bool chan_reader::check_connections() {
  for (int l = 1; l <= links_; ++l) {
    const int down = ch_.dslink[l];
    if (down == l)
      return fail(
          "Error: link %d of the channel input file %s names itself as its downstream link "
          "on its CONNECT card; a link cannot drain into itself.\n",
          l, file_.c_str());
    for (int k = 1; k <= ch_.ndep[l]; ++k)
      if (ch_.uslinks[l][k] == l)
        return fail(
            "Error: link %d of the channel input file %s names itself as an upstream link "
            "on its CONNECT card; a link cannot drain into itself.\n",
            l, file_.c_str());
  }
  for (int l = 1; l <= links_; ++l) {
    const int down = ch_.dslink[l];
    if (down >= 1) {
      bool listed = false;
      for (int k = 1; k <= ch_.ndep[down] && !listed; ++k) listed = ch_.uslinks[down][k] == l;
      if (!listed)
        return fail(
            "Error: link %d of the channel input file %s drains into link %d, but the CONNECT "
            "card of link %d does not list link %d among its upstream links.\n",
            l, file_.c_str(), down, down, l);
    }
    for (int k = 1; k <= ch_.ndep[l]; ++k) {
      const int up = ch_.uslinks[l][k];
      if (ch_.dslink[up] != l)
        return fail(
            "Error: link %d of the channel input file %s lists link %d among its upstream "
            "links, but the CONNECT card of link %d gives %d as its downstream link.\n",
            l, file_.c_str(), up, up, ch_.dslink[up]);
    }
  }
  // A walk down from any link meets a link with no downstream link within `links_` steps
  // unless the links close a loop.
  for (int l = 1; l <= links_; ++l) {
    int at = l;
    for (int steps = 0; at >= 1 && steps <= links_; ++steps) at = ch_.dslink[at];
    if (at >= 1)
      return fail(
          "Error: link %d of the channel input file %s lies on a closed loop of links: "
          "following the downstream links of the CONNECT cards from it never reaches an "
          "outlet.\n",
          l, file_.c_str());
  }
  return true;
}

// Every node of a sectioned link has its bed elevation: a node left without one would lie at 0.
bool chan_reader::check_bed_elevations() {
  for (int l = 1; l <= links_; ++l) {
    if ((ch_.ltype[l] & (4 | 8 | 16)) == 0) continue;
    for (int n = 1; n <= ch_.nx1[l]; ++n)
      if (!got_elev_(l, n))
        return fail(
            "Error: node %d of link %d in the channel input file %s has no ELEV card; every "
            "node of a link needs its bed elevation.\n",
            n, l, file_.c_str());
  }
  return true;
}

void chan_reader::bed_parameters() {
  if (ch_.Krb.empty() || ch_.Mrb.empty()) return;
  for (int l = 1; l <= links_; ++l) {
    const int t = ch_.ltype[l];
    const bool own = (t & 1) && (t & (4 | 8));
    for (int n = 1; n <= ch_.nx1[l]; ++n) {
      ch_.Krb(l, n) = own ? bed_k_[l] : ms_.cards.k_river;
      ch_.Mrb(l, n) = own ? bed_m_[l] : ms_.cards.m_river;
    }
  }
}

bool chan_reader::trapezoid_sections() {
  for (int l = 1; l <= links_; ++l) {
    const int t = ch_.ltype[l];
    if ((t & (4 | 8)) && mannings_n_[l] < 1e-8)
      return fail(
          "Error encountered when reading the channel input file, link %d:\n"
          "    Manning's Roughness is 0.000\n",
          l);
    ch_.link_inv_n[l] = mannings_n_[l] > 0.0 ? 1.0 / mannings_n_[l] : 0.0;
    if ((t & 4) == 0) continue;
    int at = 0;
    for (int n = ch_.nx1[l]; n >= 1 && at == 0; --n)
      if (got_xsec_(l, n)) at = n;
    if (at == 0) return fail("Error: Cross section parameters not found for link %d.\n", l);
    const double b = ch_.bottom(l, at);
    const double yb = ch_.bankfull_dep(l, at);
    const double z = ch_.sslope(l, at);
    if (b <= 0.0 && z <= 0.0)
      return fail(
          "Error: the section of link %d in the channel input file %s (node %d) has a bottom "
          "width of 0 and a side slope of 0; it holds no water. Give BOTTOM_WIDTH or "
          "SIDE_SLOPE a positive value.\n",
          l, file_.c_str(), at);
    const double eros = ch_.max_eros(l, at);
    for (int n = 1; n <= ch_.nx1[l]; ++n) {
      ch_.bottom(l, n) = b;
      ch_.bankfull_dep(l, n) = yb;
      ch_.sslope(l, n) = z;
      if (t & 2) ch_.max_eros(l, n) = eros;
    }
  }
  return true;
}

bool chan_reader::breakpoint_pass() {
  if (bp_links_ == 0) return true;
  int tables = 0;
  for (int l = 1; l <= links_; ++l) {
    if ((ch_.ltype[l] & 8) == 0) continue;
    const std::vector<breakpoint_section>& secs = sections_[l];
    if (ch_.ltype[l] & 2) {
      tables += ch_.nx1[l];
    } else if (secs.size() <= 1) {
      tables += 1;
    } else {
      int lo = secs[0].node;
      int hi = secs[0].node;
      for (const breakpoint_section& s : secs) {
        lo = std::min(lo, s.node);
        hi = std::max(hi, s.node);
      }
      tables += hi - lo + 1;
    }
  }
  if (max_num_interp_ < 1)
    return fail(
        "Error: the number of interpolation points has not been specifiedfor any table. "
        "Each break-point cross-section table should have a NUM_INTERP ### card below "
        "the NPAIRS card\n");
  // Level arrays as wide as the largest valid level count; a larger count is refused by the
  // table build before anything is written.
  const int levels = std::min(max_num_interp_, 30000);
  alloc_1d_double(ch_.ht_spc, tables, "ht_spc");
  alloc_1d_int(ch_.numhts, tables, "numhts");
  alloc_1d_int(ch_.numpairs, tables, "numpairs");
  if (ch_.ht_spc.empty() || ch_.numhts.empty() || ch_.numpairs.empty() ||
      !ch_.xarea.allocate_uniform(tables, levels) || !ch_.xtw.allocate_uniform(tables, levels) ||
      !ch_.xk.allocate_uniform(tables, levels) || !ch_.xp.allocate_uniform(tables, levels)) {
    raw_report_alloc_failure("xarea");
    stop_now();
    return false;
  }
  ch_.num_xsec_tables = 0;
  ch_.max_xsec_pairs = max_pairs_;
  ch_.max_num_interp = max_num_interp_;
  printf("Reading and interpolating break-point cross-sections ");
  for (int l = 1; l <= links_; ++l) {
    if ((ch_.ltype[l] & 8) == 0) continue;
    if (read_breakpoint_xsecs(ms_, l, sections_[l]) != 0) return false;
    printf(".");
  }
  printf("\n");
  return true;
}

void chan_reader::finish_nodes() {
  for (int l = 1; l <= links_; ++l) {
    const int n1 = ch_.nx1[l];
    ch_.nx[l] = (ch_.ltype[l] & (4 | 8 | 16)) ? n1 - 1 : n1;
    if (ch_.nx[l] < 0) ch_.nx[l] = 0;
    ch_.og_nx1[l] = ch_.nx[l];
  }
  got_xsec_.reset();
  for (int l = 1; l <= links_; ++l) {
    const int n1 = ch_.nx1[l];
    for (int n = 1; n <= ch_.nx[l]; ++n) {
      // Each computational node stands for the reach to the next node; the last node of a link
      // without such a reach keeps its own elevation.
      if (n + 1 <= n1) ch_.bel(l, n) = (ch_.bel(l, n) + ch_.bel(l, n + 1)) * 0.5;
      ch_.yp(l, n) = ch_.bel(l, n);
      ch_.qp(l, n) = 0.0;
    }
    if (!ch_.new_bel.empty() && (ch_.ltype[l] & 8) && (ch_.ltype[l] & 2))
      for (int n = 1; n <= n1; ++n) ch_.new_bel(l, n) = ch_.bel(l, n);
  }
}

// The lake arrays, sized by the lake count of the count pass.
bool chan_reader::allocate_lakes() {
  const int lakes = lake_count_;
  alloc_1d_int(ch_.lake2link, links_, "lake2link");
  alloc_1d_double(ch_.minwse, lakes, "minwse");
  alloc_1d_double(ch_.initwse, lakes, "initwse");
  alloc_1d_double(ch_.maxwse, lakes, "maxwse");
  alloc_1d_int(ch_.numpts, lakes, "numpts");
  alloc_lake_search(lakes, std::max(max_numpts_, 1), ch_.lake_search);
  alloc_1d_int(ch_.lake_cells, lakes, "lake_cells");
  alloc_1d_double(ch_.lake_volume, lakes, "lake_volume");
  alloc_1d_double(ch_.prevlake_volume, lakes, "prevlake_volume");
  alloc_1d_double(ch_.lake_volume_last_chan, lakes, "lake_volume_last_chan");
  alloc_1d_double(ch_.lake_area, lakes, "lake_area");
  alloc_1d_double(ch_.lake_elev, lakes, "lake_elev");
  alloc_1d_double(ch_.lake_in_dv, lakes, "lake_in_dv");
  alloc_1d_double(ch_.lake_out_dv, lakes, "lake_out_dv");
  alloc_1d_double(ch_.cumulative_lake_evap, lakes, "cumulative_lake_evap");
  alloc_1d_double(ch_.lake_ov_inflow, lakes, "lake_ov_inflow");
  alloc_1d_double(ch_.Mlake, lakes, "Mlake");
  alloc_1d_int(ch_.calc_loss, lakes, "calc_loss");
  alloc_1d_int(ch_.lake_mask, ms_.cell_count, "lake_mask");
  alloc_1d_int(ch_.new_flooded_grid, ms_.cell_count, "new_flooded_grid");
  if (ch_.lake2link.empty() || ch_.minwse.empty() || ch_.lake_search.empty() ||
      ch_.lake_volume.empty() || ch_.Mlake.empty() || ch_.calc_loss.empty() ||
      ch_.lake_mask.empty() || ch_.lake_elev.empty() || ch_.lake_area.empty()) {
    stop_now();
    return false;
  }
  return true;
}

// Each lake's starting water: the search cells below its initial surface hold it, and mark
// the lake's cells, area and volume.
void chan_reader::fill_lakes() {
  const int lakes = lake_count_;
  const double area = ms_.gridsize * ms_.gridsize;
  for (int k = 1; k <= lakes; ++k) {
    printf("Minimum Water Surface Elevation Lake #%d: %.2lf\n", k, ch_.minwse[k]);
    printf("Initial Water Surface Elevation Lake #%d: %.2lf\n", k, ch_.initwse[k]);
    printf("Maximum Water Surface Elevation Lake #%d: %.2lf\n", k, ch_.maxwse[k]);
    printf("number of coords for lake #%d's search order: %d\n", k, ch_.numpts[k]);
    if (ch_.calc_loss[k])
      printf("Simulating Lake Losses for Lake #%d, Bed Thickness: %.1lf m\n", k, ch_.Mlake[k]);
    for (int p = 1; p <= ch_.numpts[k]; ++p) {
      const int row = ch_.lake_search[k][1][p];
      const int col = ch_.lake_search[k][2][p];
      const int cell = ms_.index_map.empty() ? 0 : ms_.index_map[row][col];
      if (cell < 1 || cell > ms_.cell_count || ms_.cell_elev.empty()) continue;
      const double elev = ms_.cell_elev[cell];
      if (ch_.initwse[k] - elev <= 0.001) continue;
      ++ch_.lake_cells[k];
      ch_.lake_volume[k] += (ch_.initwse[k] - elev) * area;
      ch_.lake_mask[cell] = k;
      if (ch_.calc_loss[k] && ms_.subsurface.gw_simulation && !ms_.subsurface.gwbound.empty() &&
          cell <= ms_.subsurface.gwbound.count())
        ms_.subsurface.gwbound[cell] = 7;
    }
    ch_.lake_elev[k] = ch_.initwse[k];
    ch_.prevlake_volume[k] = ch_.lake_volume[k];
    ch_.lake_volume_last_chan[k] = ch_.lake_volume[k];
    ch_.lake_area[k] = ch_.lake_cells[k] * area;
  }
}

// The network as read, kept beside the working copy that lakes and structures may change.
bool chan_reader::keep_original_network() {
  alloc_1d_int(ch_.og_ndep, links_, "og_ndep");
  alloc_1d_int(ch_.og_dslink, links_, "og_dslink");
  alloc_1d_int(ch_.og_lytpe, links_, "og_lytpe");
  if (ch_.og_ndep.empty() || ch_.og_dslink.empty() || ch_.og_lytpe.empty() ||
      !ch_.og_uslinks.allocate(links_, std::max(max_upstream_, 1))) {
    stop_now();
    return false;
  }
  for (int l = 1; l <= links_; ++l) {
    ch_.og_ndep[l] = ch_.ndep[l];
    ch_.og_dslink[l] = ch_.dslink[l];
    ch_.og_lytpe[l] = ch_.ltype[l];
    for (int k = 1; k <= ch_.uslinks.col_count(); ++k) ch_.og_uslinks[l][k] = ch_.uslinks[l][k];
  }
  return true;
}

bool chan_reader::lake_pass() {
  if (lake_count_ == 0) return true;
  const int lakes = lake_count_;
  ch_.num_lakes = lakes;
  ch_.lake_loss = lake_loss_;
  if (!allocate_lakes()) return false;

  int link = 0;
  int lake = 0;
  // Per lake: bit 1 when its MINWSE was given, bit 2 its MAXWSE.
  std::vector<unsigned char> given(static_cast<std::size_t>(lakes) + 1, 0);
  for (std::size_t i = 1; i < lines_.size(); ++i) {
    std::string rest = lines_[i].text;
    const int code = chan_input_card_code(rest);
    const int line = lines_[i].number;
    if (code == chan_card_link) {
      if (!link_number(rest, code, line, link)) return false;
      continue;
    }
    if (code == chan_card_lake) {
      if (link == 0) return needs_link(code, line);
      if (++lake > lakes)
        return fail(
            "Error: the LAKE card on line %d of the channel input file %s comes before "
            "the header cards are complete.\n",
            line, file_.c_str());
      ch_.lake2link[link] = lake;
      continue;
    }
    const bool lake_card = code == chan_card_mlake || code == chan_card_minwse ||
                           code == chan_card_initwse || code == chan_card_maxwse ||
                           code == chan_card_numpts;
    if (!lake_card) continue;
    if (lake == 0)
      return fail(
          "Error: the %s card on line %d of the channel input file %s comes before any "
          "LAKE card.\n",
          card_name(code).c_str(), line, file_.c_str());
    switch (code) {
      case chan_card_mlake:
        if (!take_double(rest, code, line, "the bed thickness", ch_.Mlake[lake])) return false;
        ch_.calc_loss[lake] = 1;
        break;
      case chan_card_minwse:
        if (!take_double(rest, code, line, "the elevation", ch_.minwse[lake])) return false;
        given[static_cast<std::size_t>(lake)] |= 1;
        break;
      case chan_card_initwse:
        if (!take_double(rest, code, line, "the elevation", ch_.initwse[lake])) return false;
        break;
      case chan_card_maxwse:
        if (!take_double(rest, code, line, "the elevation", ch_.maxwse[lake])) return false;
        given[static_cast<std::size_t>(lake)] |= 2;
        break;
      default: {
        int n = 0;
        char limit[96];
        snprintf(limit, sizeof limit, "a lake has 0 to %d search cells", max_numpts_);
        if (!take_in_range(rest, code, line, "the number of search cells", 0, max_numpts_, limit,
                           n))
          return false;
        ch_.numpts[lake] = n;
        // Row and column pairs follow, ten to a line: the first pair on the next line, and
        // after every tenth pair the following line is read.
        std::size_t at = i + 1;
        std::string pairs = at < lines_.size() ? lines_[at].text : std::string();
        for (int k = 1; k <= n; ++k) {
          const int pline = at < lines_.size() ? lines_[at].number : line;
          int row = 0;
          int col = 0;
          char rule[96];
          snprintf(rule, sizeof rule, "search cell rows lie between 1 and %d", ms_.rows);
          if (!take_in_range(pairs, code, pline, "a search cell row", 1, ms_.rows, rule, row))
            return false;
          snprintf(rule, sizeof rule, "search cell columns lie between 1 and %d", ms_.cols);
          if (!take_in_range(pairs, code, pline, "a search cell column", 1, ms_.cols, rule, col))
            return false;
          ch_.lake_search[lake][1][k] = row;
          ch_.lake_search[lake][2][k] = col;
          if (k % 10 == 0) {
            ++at;
            pairs = at < lines_.size() ? lines_[at].text : std::string();
          }
        }
        i = n > 0 ? at : i;
        break;
      }
    }
  }

  // A lake's lowest water surface cannot lie above its highest, where both are given.
  for (int k = 1; k <= lakes; ++k) {
    if (given[static_cast<std::size_t>(k)] == 3 && ch_.minwse[k] > ch_.maxwse[k])
      return fail(
          "Error: lake %d of the channel input file %s has MINWSE %g above its MAXWSE %g.\n", k,
          file_.c_str(), ch_.minwse[k], ch_.maxwse[k]);
  }
  fill_lakes();
  return keep_original_network();
}

int chan_reader::run(file_handle& h) {
  lines_ = read_numbered_lines(h);
  // A line too long to read has stopped the run.
  if (run_error.error_fatal != 0) return 0;
  if (!header() || !required_cards() || !count_pass() || !after_count_checks() ||
      !allocate_node_arrays() || !collect_sections() || !connection_pass() ||
      !check_connections() || !main_pass() || !check_bed_elevations() || !check_structures())
    return 0;
  bed_parameters();
  if (!trapezoid_sections() || !breakpoint_pass()) return 0;
  finish_nodes();
  if (ms_.cards.non_ortho_channels_given) {
    if (!read_grid_stream_file(ms_, ms_.input.stream_cell_file)) return 0;
  }
  if (!lake_pass()) return 0;
  return lake_loss_;
}

}  // namespace

std::string chan_card_name(int code) {
  for (const card_word& w : chan_card_words)
    if (w.code == code) return upper(w.word);
  return "?";
}

bool chan_input_quiet(const model_state& ms) {
  return ms.super_quiet != 0 || process_info.process_rank != 0;
}

std::vector<numbered_line> read_numbered_lines(file_handle& h) {
  std::vector<numbered_line> lines;
  std::string line;
  int number = 0;
  while (read_text_line(line, h) != 0) lines.push_back({line, ++number});
  return lines;
}

int chan_input_card_code(std::string& line) {
  std::size_t start = 0;
  while (start < line.size() && is_word_sep(line[start])) ++start;
  std::size_t end = start;
  while (end < line.size() && !is_word_sep(line[end])) ++end;
  const std::string word = lower(line.substr(start, end - start));
  line.erase(0, end);
  if (word.empty()) return chan_card_unknown;
  // The words by name, made once: every line of the channel files is looked up, every run of a
  // calibration again.
  static const std::unordered_map<std::string, int> codes = [] {
    std::unordered_map<std::string, int> m;
    for (const card_word& w : chan_card_words) m.emplace(w.word, w.code);
    return m;
  }();
  const auto found = codes.find(word);
  return found != codes.end() ? found->second : chan_card_unknown;
}

int read_chan_input(model_state& ms) {
  file_handle& chan_file = ms.channel.channel_input_file;
  chan_reader reader(ms, chan_file.path);
  const int result = reader.run(chan_file);
  file_handle_close(chan_file);
  if (ms.input.stream_cell_file.is_open()) file_handle_close(ms.input.stream_cell_file);
  return result;
}
