// The stream analyzers: the choice of the channel array a target token names and the comparison
// object made over it, when the analyzer's control line is read at start-up.
#include "output/analyzers/stream_analyzers.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "framework/core/text_tokens.h"
#include "framework/model_state.h"

namespace {

bool starts_with(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// The links of the channel network and the node count of each (null without a network).
int network_links(const model_state& ms) {
  const channel_state& ch = ms.channel;
  return ch.nx1.empty() || ch.nx1.count() < ch.chan_link_count ? 0 : ch.chan_link_count;
}
const int* network_nodes(const model_state& ms) {
  return ms.channel.nx1.empty() ? nullptr : ms.channel.nx1.data();
}

}  // namespace

void stanalyzer_1dst::select_variable(const std::string& target_token, model_state& ms) {
  std::string rest = target_token;
  for (char& c : rest)
    if (c == '_') c = ' ';
  std::string kind, number_word;
  next_token(rest, kind);
  int number = 0;
  if (next_token(rest, number_word) && !parse_int(number_word, number)) number = 0;

  const transport_state& tr = ms.transport;
  if (tr.num_contaminants == 0) {
    printf("Error: Setting up 1DS analyzer when no constituents are being modeled.\n");
    return;
  }
  if (number < 1 || number > tr.num_contaminants) {
    printf(
        "Error: 1DS Analyzer for %s with index %d is out of range. Range for index is %d to "
        "%d.\n",
        kind.c_str(), number, 1, tr.num_contaminants);
    return;
  }
  // A row of a constituent table [constituent][flat node], when the table holds it.
  const auto row = [&](const raw_array2d<double>& table, int stride) {
    if (table.empty() || number > table.row_count()) return;
    target = table[number];
    target_count = table.col_count() + 1;
    target_stride = stride;
  };
  target = nullptr;
  if (starts_with(kind, "conc")) row(tr.chan_con_conc, tr.con_node_stride);
  if (starts_with(kind, "mass")) row(tr.chan_con_mass, tr.con_node_stride);
  if (starts_with(kind, "pointconc"))
    row(ms.channel.points.chan_point_conc, ms.channel.points.node_stride);
  // The lateral-inflow, groundwater-exchange and nutrient-source arrays of the constituents
  // (qlatconc, qlatmass, gwmass, nsmsource) are not kept by this version: nothing is found.
  if (target == nullptr) printf("Error: unable to find 1DS array [%s]\n", kind.c_str());
}

void stanalyzer_1dst::create_op(model_state& ms, const std::string& target_token) {
  auto* op = new (std::nothrow) st1d_logical_OP;
  if (op == nullptr) return;
  op_.reset(op);
  select_variable(target_token, ms);
  if (target == nullptr || !op->setup(target, target_count, network_links(ms), network_nodes(ms),
                                      target_stride, &ms.current_time, target_token.c_str())) {
    // Nothing to test: the analyzer stays on the list and never reports.
    op_.reset();
  }
}

void stanalyzer_2dst::select_variable(const std::string& target_token, model_state& ms) {
  std::string key = target_token;
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  channel_state& ch = ms.channel;
  if (starts_with(key, "depth")) {
    target = &ch.yp;
    op2d->set_operand(op_subtract, &ch.bel);
  }
  if (starts_with(key, "area")) target = &ch.area;
  if (starts_with(key, "flow")) target = &ch.qp;
}

void stanalyzer_2dst::create_op(model_state& ms, const std::string& target_token) {
  op2d = new (std::nothrow) st2d_logical_OP;
  if (op2d == nullptr) return;
  op_.reset(op2d);
  select_variable(target_token, ms);
  if (target == nullptr || !op2d->setup(target, network_links(ms), network_nodes(ms),
                                        &ms.current_time, target_token.c_str())) {
    op_.reset();
    op2d = nullptr;
  }
}
