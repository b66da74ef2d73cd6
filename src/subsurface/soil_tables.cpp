// Soil tables and initial soil moisture, read at start-up by the soil-map reader and the
// mapping-table readers: the MULTI_LAYER_SOIL block, the soil-layer file and the layered soil
// table of the soil columns fill the soil-type records; the uniform initial moisture and the
// porosity at a moving water table serve the infiltration and groundwater set-ups.
#include "subsurface/soil_tables.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/parallel_team.h"
#include "framework/core/process_info.h"
#include "framework/core/text_tokens.h"
#include "framework/model_state.h"
#include "subsurface/subsurface_steps.h"

namespace {

// The values of a layer row of the MULTI_LAYER_SOIL block and the soil-layer file go, in order,
// to these slot groups (plus the layer): conductivity, pore index, capillary head, porosity,
// field capacity, wilting point, residual content, initial content, thickness.
constexpr int layer_row_slots[9] = {4, 25, 0, 7, 16, 13, 19, 10, 22};
// Layered soil table, Brooks-Corey rows: conductivity, porosity, residual, initial content,
// wilting point, field capacity, thickness, pore index, bubbling pressure, node thickness.
constexpr int brooks_row_slots[10] = {4, 7, 19, 10, 13, 16, 22, 25, 28, 31};
// Havercamp rows: the first seven as above, then alpha, beta, A, B, node thickness.
constexpr int havercamp_row_slots[12] = {4, 7, 19, 10, 13, 16, 22, 34, 37, 40, 43, 31};

// What a value of a layer row may physically be: any number, at least 0, above 0, a porosity
// (above 0, at most 1), a water content (from 0 to the layer's porosity) or a residual water
// content (from 0 to below the porosity: a layer holding all its pores' water as residual could
// not drain).
enum class layer_bound { any, not_negative, positive, nonzero, porosity, content, residual };
struct layer_field {
  const char* name;
  layer_bound bound;
};
// Rows of the MULTI_LAYER_SOIL block and the soil-layer file. The pore index is not used by the
// layered scheme, so a 0 standing for "not given" passes; below 0 it is impossible.
constexpr layer_field layer_row_fields[9] = {
    {"saturated hydraulic conductivity", layer_bound::not_negative},
    {"pore distribution index", layer_bound::not_negative},
    {"capillary head", layer_bound::not_negative},
    {"porosity", layer_bound::porosity},
    {"field capacity", layer_bound::content},
    {"wilting point", layer_bound::content},
    {"residual moisture", layer_bound::residual},
    {"initial moisture", layer_bound::content},
    {"thickness", layer_bound::any}};
// Brooks-Corey rows of the layered soil table (the bubbling pressure is taken by its size, and
// a size of 0 would leave the retention curve without a scale).
constexpr layer_field brooks_row_fields[10] = {
    {"saturated hydraulic conductivity", layer_bound::not_negative},
    {"porosity", layer_bound::porosity},
    {"residual moisture", layer_bound::residual},
    {"initial moisture", layer_bound::content},
    {"wilting point", layer_bound::content},
    {"field capacity", layer_bound::content},
    {"thickness", layer_bound::any},
    {"pore distribution index", layer_bound::positive},
    {"bubbling pressure", layer_bound::nonzero},
    {"node thickness", layer_bound::any}};
// Havercamp rows: the shape parameters of the retention and conductivity curves are positive.
constexpr layer_field havercamp_row_fields[12] = {
    {"saturated hydraulic conductivity", layer_bound::not_negative},
    {"porosity", layer_bound::porosity},
    {"residual moisture", layer_bound::residual},
    {"initial moisture", layer_bound::content},
    {"wilting point", layer_bound::content},
    {"field capacity", layer_bound::content},
    {"thickness", layer_bound::any},
    {"Havercamp alpha", layer_bound::positive},
    {"Havercamp beta", layer_bound::positive},
    {"Havercamp A", layer_bound::positive},
    {"Havercamp B", layer_bound::positive},
    {"node thickness", layer_bound::any}};

// Column where the values of a soil id's first row begin in a mapping-table block (the first
// 87 characters hold the id and its description).
constexpr std::size_t first_row_values_at = 87;

// The line number of the stream's position: lines before it, counted from the file's start.
int line_number_at(file_handle& h) {
  if (h.fp == nullptr) return 0;
  const long pos = std::ftell(h.fp);
  if (pos < 0) return 0;
  std::rewind(h.fp);
  int lines = 0;
  for (long i = 0; i < pos; ++i) {
    const int ch = std::fgetc(h.fp);
    if (ch == EOF) break;
    if (ch == '\n') ++lines;
  }
  std::fseek(h.fp, pos, SEEK_SET);
  return lines;
}

// Reads a table line by line and keeps the number of the last line read, so that every
// message names its file and line.
class table_lines {
 public:
  table_lines(file_handle& h, const char* what) : h_(h), what_(what), line_(line_number_at(h)) {}
  bool next(std::string& line) {
    if (read_text_line(line, h_) == 0) return false;
    ++line_;
    return true;
  }
  // The next line, or a message that the table ends before `expected`.
  bool need(std::string& line, const char* expected) {
    if (next(line)) return true;
    stop_with_message("Error: the %s in %s ends before %s (after line %d)\n", what_, h_.path,
                      expected, line_);
    return false;
  }
  // Takes `count` numbers from `text` into `values`; a line that holds fewer is an error.
  bool values(std::string text, int count, double* values) {
    std::string token;
    for (int k = 0; k < count; ++k) {
      if (next_token(text, token) == 0) {
        stop_with_message("Error: line %d of the %s in %s holds %d of its %d values\n", line_,
                          what_, h_.path, k, count);
        return false;
      }
      if (!parse_double(token, values[k])) {
        stop_with_message("Error: value %d \"%s\" on line %d of the %s in %s is not a number\n",
                          k + 1, token.c_str(), line_, what_, h_.path);
        return false;
      }
    }
    return true;
  }
  // The first token of `text` as a soil id within the table's capacity.
  bool soil_id(std::string& text, int& id) {
    std::string token;
    if (next_token(text, token) == 0 || !parse_int(token, id)) {
      stop_with_message("Error: line %d of the %s in %s does not begin with a soil id\n", line_,
                        what_, h_.path);
      return false;
    }
    if (id < 0 || id >= max_soil_types) {
      stop_with_message("Error: soil id %d on line %d of the %s in %s lies outside 0 to %d\n", id,
                        line_, what_, h_.path, max_soil_types - 1);
      return false;
    }
    return true;
  }
  // A count line: its first word (taken as a keyword when `keyword` is set) and an int >= 0.
  bool count(bool keyword, int& n) {
    std::string line;
    if (!need(line, "its count line")) return false;
    std::string token;
    if (keyword) next_token(line, token);
    if (next_token(line, token) == 0 || !parse_int(token, n) || n < 0) {
      stop_with_message("Error: line %d of the %s in %s must give a count of 0 or more\n", line_,
                        what_, h_.path);
      return false;
    }
    return true;
  }
  bool positive_thickness(int id, int layer, double value) {
    if (value > 0.0) return true;
    stop_with_message(
        "Error: soil id %d of the %s in %s (line %d) has a layer %d thickness of %g; a layer "
        "thickness must be above 0\n",
        id, what_, h_.path, line_, layer, value);
    return false;
  }
  // Every value of a layer row within its physical range: the first that is not stops the run,
  // named with the file, line, soil id, layer and field.
  bool physical(int id, int layer, const layer_field* fields, int count, const double* v) {
    double porosity = 1.0;
    for (int k = 0; k < count; ++k)
      if (fields[k].bound == layer_bound::porosity) porosity = v[k];
    for (int k = 0; k < count; ++k) {
      const double x = v[k];
      char must[96] = {};
      switch (fields[k].bound) {
        case layer_bound::any:
          break;
        case layer_bound::not_negative:
          if (!(x >= 0.0)) snprintf(must, sizeof must, "be at least 0");
          break;
        case layer_bound::positive:
          if (!(x > 0.0)) snprintf(must, sizeof must, "be above 0");
          break;
        case layer_bound::nonzero:
          if (!(x != 0.0)) snprintf(must, sizeof must, "be other than 0");
          break;
        case layer_bound::porosity:
          if (!(x > 0.0 && x <= 1.0)) snprintf(must, sizeof must, "be above 0 and at most 1");
          break;
        case layer_bound::content:
          if (!(x >= 0.0 && x <= porosity))
            snprintf(must, sizeof must, "lie from 0 to the layer's porosity %g", porosity);
          break;
        case layer_bound::residual:
          if (!(x >= 0.0 && x < porosity))
            snprintf(must, sizeof must, "lie from 0 to below the layer's porosity %g", porosity);
          break;
      }
      if (must[0] == '\0') continue;
      stop_with_message(
          "Error: soil id %d of the %s in %s (line %d) has a layer %d %s of %g, which is "
          "physically impossible: it must %s\n",
          id, what_, h_.path, line_, layer, fields[k].name, x, must);
      return false;
    }
    return true;
  }
  int line() const { return line_; }
  const char* path() const { return h_.path; }

 private:
  file_handle& h_;
  const char* what_;
  int line_;
};

// The text of a mapping-table block's first row from its values on.
bool first_row_values(table_lines& t, const std::string& line, std::string& out) {
  if (line.size() <= first_row_values_at) {
    stop_with_message(
        "Error: line %d of the %s in %s is shorter than its value columns (they begin at "
        "character %zu)\n",
        t.line(), "MULTI_LAYER_SOIL table", t.path(), first_row_values_at + 1);
    return false;
  }
  out = line.substr(first_row_values_at);
  return true;
}

// Stores one layer row of `count` values with slot groups `slots` into layer `layer` (0..2).
void store_row(soil_table_record& r, const int* slots, int count, const double* v, int layer) {
  for (int k = 0; k < count; ++k) soil_slot(r, slots[k] + layer) = v[k];
}

}  // namespace

double& soil_slot(soil_table_record& r, int i) {
  return reinterpret_cast<double*>(&r)[i];
}
double soil_slot(const soil_table_record& r, int i) {
  return reinterpret_cast<const double*>(&r)[i];
}

int read_multilayer_soil_block(model_state&, file_handle& table_file,
                               soil_table_record* soil_types) {
  table_lines t(table_file, "MULTI_LAYER_SOIL table");
  int n = 0;
  int unused = 0;
  if (!t.count(true, n) || !t.count(true, unused)) return -1;
  std::string line;
  if (!t.need(line, "its column-header line")) return -1;
  for (int i = 0; i < n; ++i) {
    if (!t.need(line, "all its soil ids are read")) return -1;
    std::string head = line;
    int id = 0;
    if (!t.soil_id(head, id)) return -1;
    std::string rest;
    if (!first_row_values(t, line, rest)) return -1;
    soil_table_record& r = soil_types[id];
    for (int layer = 0; layer < 3; ++layer) {
      if (layer > 0 && !t.need(rest, "all three layers of a soil id are read")) return -1;
      const int count = layer < 2 ? 9 : 8;
      double v[9] = {};
      if (!t.values(rest, count, v)) return -1;
      if (layer < 2 && !t.positive_thickness(id, layer + 1, v[8])) return -1;
      if (!t.physical(id, layer + 1, layer_row_fields, count, v)) return -1;
      store_row(r, layer_row_slots, count, v, layer);
    }
  }
  return n;
}

void read_soil_layer_file(model_state&, file_handle& layer_file, soil_table_record* soil_types) {
  table_lines t(layer_file, "soil layer file");
  std::string line;
  std::string token;
  int n = 0;
  if (!t.need(line, "its count of soil types")) return;
  if (next_token(line, token) == 0 || !parse_int(token, n)) {
    stop_with_message(
        "Error: line %d of the soil layer file %s must give the number of soil "
        "types\n",
        t.line(), t.path());
    return;
  }
  if (n < 1) return;
  if (!t.need(line, "its second line")) return;
  for (int i = 0; i < n; ++i) {
    if (!t.need(line, "all its soil types are read")) return;
    int id = 0;
    if (!t.soil_id(line, id)) return;
    soil_table_record& r = soil_types[id];
    for (int layer = 0; layer < 3; ++layer) {
      if (!t.need(line, "all three layers of a soil type are read")) return;
      const int count = layer < 2 ? 9 : 8;
      double v[9] = {};
      if (!t.values(line, count, v)) return;
      if (layer < 2 && !t.positive_thickness(id, layer + 1, v[8])) return;
      if (!t.physical(id, layer + 1, layer_row_fields, count, v)) return;
      store_row(r, layer_row_slots, count, v, layer);
    }
  }
}

int read_layered_soil_table(model_state& ms, file_handle& table_file, int form,
                            bool mapping_table_mode) {
  subsurface_state& ss = ms.subsurface;
  if (form != 1 && form != 2) {
    stop_with_message("Error: the layered soil table of %s has form %d; it must be 1 or 2\n",
                      table_file.path, form);
    return -1;
  }
  const int* slots = form == 1 ? brooks_row_slots : havercamp_row_slots;
  const int count = form == 1 ? 10 : 12;
  table_lines t(table_file, "layered soil table");
  int n = 0;
  int unused = 0;
  if (!t.count(mapping_table_mode, n) || !t.count(mapping_table_mode, unused)) return -1;
  std::string line;
  if (mapping_table_mode && !t.need(line, "its column-header line")) return -1;
  const int water_table = ss.water_table_on;
  std::vector<soil_node_counts> nodes(max_soil_types);
  std::vector<char> seen(max_soil_types, 0);
  for (int i = 0; i < n; ++i) {
    if (!t.need(line, "all its soil ids are read")) return -1;
    std::string rest = line;
    int id = 0;
    if (!t.soil_id(rest, id)) return -1;
    if (mapping_table_mode) {
      std::string values;
      if (line.size() <= first_row_values_at) {
        stop_with_message(
            "Error: line %d of the layered soil table in %s is shorter than its value columns\n",
            t.line(), t.path());
        return -1;
      }
      rest = line.substr(first_row_values_at);
    }
    soil_table_record& r = ss.soil_types[id];
    if (!mapping_table_mode && ms.long_term) {
      double extra[4] = {};
      if (!t.need(line, "the extra values of a soil id") || !t.values(line, 4, extra)) return -1;
      for (int k = 0; k < 4; ++k) soil_slot(r, 46 + k) = extra[k];
    }
    for (int layer = 0; layer < 3; ++layer) {
      if ((layer > 0 || !mapping_table_mode) &&
          !t.need(rest, "all three layers of a soil id are read"))
        return -1;
      double v[12] = {};
      if (!t.values(rest, count, v)) return -1;
      if (!t.positive_thickness(id, layer + 1, v[6])) return -1;
      if (!(v[count - 1] > 0.0)) {
        stop_with_message(
            "Error: soil id %d of the layered soil table in %s (line %d) has a layer %d node "
            "thickness of %g; it must be above 0\n",
            id, t.path(), t.line(), layer + 1, v[count - 1]);
        return -1;
      }
      if (!t.physical(id, layer + 1, form == 1 ? brooks_row_fields : havercamp_row_fields, count,
                      v))
        return -1;
      store_row(r, slots, count, v, layer);
      if (form == 1) r.layer_bubbling_pressure[layer] = -std::fabs(v[8]);
    }
    nodes[id] = layered_soil_node_counts(r, water_table);
    seen[id] = 1;
  }
  // Every cell's column, once the run holds the per-cell node counts.
  int largest = 0;
  const int cells = ss.numcells.empty() ? 0 : ms.cell_count;
  for (int c = 1; c <= cells; ++c) {
    const int id = c <= ss.soiltype.count() && !ss.soiltype.empty() ? ss.soiltype[c] : 0;
    if (id < 0 || id >= max_soil_types || !seen[id]) {
      stop_with_message(
          "Error: cell %d has soil type %d, which the layered soil table %s does "
          "not hold\n",
          c, id, t.path());
      return -1;
    }
    const soil_table_record& r = ss.soil_types[id];
    const double surface = c <= ms.cell_elev.count() && !ms.cell_elev.empty() ? ms.cell_elev[c] : 0;
    const double bottom =
        c <= ss.bottom_elev.count() && !ss.bottom_elev.empty() ? ss.bottom_elev[c] : 0.0;
    int numtot = 0;
    int numcells = 0;
    layered_cell_nodes(r, nodes[id], water_table, surface, bottom, ss.aquifer_delta_z, numtot,
                       numcells);
    if (c <= ss.numtot.count() && !ss.numtot.empty()) ss.numtot[c] = numtot;
    if (c <= ss.numcells.count() && !ss.numcells.empty()) ss.numcells[c] = numcells;
    if (c <= ss.num2.count() && !ss.num2.empty()) ss.num2[c] = nodes[id].num2;
    if (c <= ss.num3.count() && !ss.num3.empty()) ss.num3[c] = nodes[id].num3;
    if (numcells > largest) largest = numcells;
  }
  return largest + 2;
}

soil_node_counts layered_soil_node_counts(const soil_table_record& s, int water_table) {
  soil_node_counts n;
  n.num1 = static_cast<int>(s.layer_depth[0] / s.layer_node_spacing[0]);
  n.num2 = n.num1 + static_cast<int>(s.layer_depth[1] / s.layer_node_spacing[1]);
  n.num3 = n.num2 + static_cast<int>(s.layer_depth[2] / s.layer_node_spacing[2]) + 1;
  if (water_table) n.num3 -= 1;
  return n;
}

void layered_cell_nodes(const soil_table_record& s, const soil_node_counts& n, int water_table,
                        double surface, double bottom, double gw_cell_dz, int& numtot,
                        int& numcells) {
  if (!water_table) {
    numtot = n.num3;
    numcells = n.num3;
    return;
  }
  const double d =
      surface - bottom - (s.layer_depth[0] + s.layer_depth[1] + s.layer_depth[2]) / 100.0;
  if (d <= 0.0) {
    numtot = n.num3 + 1;
  } else {
    const double x = gw_cell_dz > 0.0 ? d / gw_cell_dz : 0.0;
    const double whole = std::floor(x);
    if (x < 1.0)
      numtot = n.num3 + 2;
    else
      numtot = n.num3 + static_cast<int>(whole) + 1 + (x - whole >= 0.25 ? 1 : 0);
  }
  numcells = numtot + 9;
}

void init_uniform_soil_moisture(int cell_count, std::span<const double> porosity_by_soil,
                                std::span<double> theta_init,
                                std::span<const double> residual_by_soil,
                                std::span<const int> soiltype,
                                std::span<const double> porosity_cell,
                                std::span<const double> residual_cell, int by_cell, double value) {
  team_for(team_size(cell_count), 1, cell_count, [&](int c) {
    const double residual = by_cell == 1 ? residual_cell[c] : residual_by_soil[soiltype[c]];
    const double porosity = by_cell == 1 ? porosity_cell[c] : porosity_by_soil[soiltype[c]];
    double theta = value;
    if (residual > theta) theta = residual + 0.01;
    if (theta > porosity) theta = porosity - 0.01;
    theta_init[c] = theta;
  });
}

double gw_layered_soil_value(const soil_table_record& s, const double* dz, const double* thetas,
                             int node_count, double surface, double gw_cell_dz, double new_head,
                             double prev_head) {
  const int n = node_count - 1;
  if (n < 1) return node_count >= 1 ? thetas[1] : 0.0;
  if (new_head > surface) return thetas[1];
  // Reference thickness of the layer the table lies in.
  const double below = (surface - new_head) * 100.0;  // cm
  const double H1 = s.layer_depth[0];
  const double H2 = s.layer_depth[1];
  const double H3 = s.layer_depth[2];
  double T = gw_cell_dz * 100.0;
  if (below <= H1)
    T = s.layer_node_spacing[0];
  else if (below <= H1 + H2)
    T = s.layer_node_spacing[1];
  else if (below <= H1 + H2 + H3)
    T = s.layer_node_spacing[2];
  const double delta = (new_head - prev_head) * 100.0;
  if (delta == 0.0) return thetas[n];
  double remaining = std::fabs(delta);
  double swept = 0.0;
  double sum = 0.0;
  if (delta > 0.0) {
    int j = n;
    for (; j >= 0 && remaining > 0.0; --j) {
      const double thick = j >= 1 ? dz[j] : remaining;
      const double take = thick < remaining ? thick : remaining;
      sum += take * (j >= 1 ? thetas[j] : 1.0);
      swept += take;
      remaining -= take;
    }
    if (j >= 0 && swept <= dz[n]) return thetas[n];
    return swept > 0.0 ? sum / swept : thetas[n];
  }
  for (int j = n + 1; j <= node_count && remaining > 0.0; ++j) {
    const double take = dz[j] < remaining ? dz[j] : remaining;
    sum += take * thetas[j];
    swept += take;
    remaining -= take;
  }
  if (swept + dz[n] <= 1.5 * T) return thetas[n];
  return swept > 0.0 ? sum / swept : thetas[n];
}
