// Channel cross-section properties: flow area, top width, conveyance and its derivative from the
// water depth at a node, and the depth and conveyance back from the flow area, for trapezoids,
// compound trapezoids with a flood plain and break-point sections given by depth tables. The
// kernels work on plain values; ex_section and the per-node forms sweep the channel record with
// them for routing, the lateral exchange, the channel start-up and the event initialisation.
#pragma once

#include "framework/core/link_node_array.h"

struct channel_state;
struct model_state;

// Properties of a section filled to a given depth (m, m2, m3/s through Manning's 1/n).
struct section_properties {
  double area = 0.0;   // flow area (m2)
  double topw = 0.0;   // top width (m)
  double conv = 0.0;   // conveyance A R^(2/3) / n
  double dconv = 0.0;  // derivative of the conveyance with depth
};

// Why a from-area computation failed; each has its own message in ex_section.
enum class section_fault {
  none = 0,
  root_in_bank,       // compound section, in bank: 4 z1 A + b2 < 0
  depth_in_bank,      // compound section, in bank: negative depth
  root_above_bank,    // compound section, above the bank: 4 z2 (A - Ab) + Tb2 < 0
  plain_depth_above,  // compound section, above the bank: negative depth above the bank
  depth_above_bank,   // compound section, above the bank: negative depth
};

// Depth and conveyance of a section that holds a given flow area.
struct section_depth {
  double depth = 0.0;  // m
  double conv = 0.0;   // conveyance A R^(2/3) / n
  section_fault fault = section_fault::none;
};

// A trapezoid: bottom width b (m), side slope z1 (horizontal per vertical; 0 a rectangle) and
// 1/n. A compound trapezoid adds the bank-full depth yb (m) and the flood-plain slope z2 (0 a
// flat flood plain) above it.
struct trapezoid_shape {
  double bottom = 0.0;
  double side_slope = 0.0;
  double inv_n = 0.0;
  double bankfull_depth = 0.0;  // compound sections only
  double plain_slope = 0.0;     // compound sections only
};

// One depth table of a break-point section: level spacing h (m), levels 1..N above the empty
// level 0, and per level 0..N the flow area, top width and conveyance (pointers indexed by
// level).
struct depth_table_view {
  double spacing = 0.0;
  int levels = 0;
  const double* area = nullptr;
  const double* topw = nullptr;
  const double* conv = nullptr;
};

// Trapezoid filled to depth y >= 0. An empty section (no area or no wetted perimeter) has zero
// conveyance and zero derivative.
section_properties trapezoid_from_depth(const trapezoid_shape& s, double y);
// Depth of a trapezoid that holds area a >= 0, and its conveyance. A side slope of 0 (a
// rectangle) gives y = a / b.
section_depth trapezoid_from_area(const trapezoid_shape& s, double a);

// Compound trapezoid filled to depth y >= 0.
section_properties compound_from_depth(const trapezoid_shape& s, double y);
// Depth of a compound trapezoid that holds area a >= 0, and its conveyance; a flat flood plain
// (z2 = 0) fills at the bank-full top width.
section_depth compound_from_area(const trapezoid_shape& s, double a);

// Break-point section filled to depth y >= 0; `exceeded` is set when y lies above the top level
// (the top interval is then extended), and left alone otherwise.
section_properties table_from_depth(const depth_table_view& t, double y, bool& exceeded);
// Depth of a break-point section that holds area a >= 0, and its conveyance; `exceeded` is set
// when a lies above the top level's area.
section_depth table_from_area(const depth_table_view& t, double a, bool& exceeded);

// The depth tables of the break-point sections: per table 1..count its level spacing and level
// count, and per level its flow area, top width and conveyance.
struct depth_tables_view {
  int count = 0;
  const double* spacing = nullptr;
  const int* levels = nullptr;
  const link_node_array<double>* area = nullptr;
  const link_node_array<double>* topw = nullptr;
  const link_node_array<double>* conv = nullptr;
};

// One sectioned link's shape by node (bottom width, side slope and, for compound sections, the
// bank-full depth and flood-plain slope; for break-point sections the table of each node), its
// 1/n, its section kind (type bits 4 trapezoid, 8 break-point, 16 compound) and the node values a
// section gives from the flow area.
struct link_sections_view {
  int kind = 0;
  double inv_n = 0.0;
  const double* bel = nullptr;
  const double* bottom = nullptr;
  const double* side_slope = nullptr;
  const double* bankfull = nullptr;
  const double* plain_slope = nullptr;
  const int* table = nullptr;
  double* area = nullptr;
  double* depth = nullptr;
  double* yp = nullptr;
  double* conv = nullptr;
  double* topw = nullptr;   // set from the level only
  double* dconv = nullptr;  // set from the level only
};

// Depth, level and conveyance of the nodes first..last from their flow areas (a trapezoid's
// round-off below an empty channel set to 0). False at the first node whose area gives no depth
// or whose table is not one of `tables`, its values and the later nodes' left as they were.
// Raises `exceeded` for a node above its depth table.
bool sections_from_area(const link_sections_view& v, const depth_tables_view& tables, int first,
                        int last, int& exceeded);

// Why a section cannot be had from a node's level.
enum class stage_fault { none, negative_depth, no_table };

// Flow area, top width, conveyance and its derivative of node j from its level yp[j] (the depth
// over its bed). A node whose level lies below its bed, or a break-point node whose table is not
// one of `tables`, keeps its values. Links without a section kind are left alone. Raises
// `exceeded` for a node above its depth table.
stage_fault section_from_level(const link_sections_view& v, const depth_tables_view& tables, int j,
                               int& exceeded);

// The views of a sectioned link and of the network's depth tables.
link_sections_view link_sections_of(channel_state& ch, int link);
depth_tables_view depth_tables_of(const channel_state& ch);

// Recomputes the section of node `node` of link `link` from its water-surface level `yp`
// (area, top width, conveyance and its derivative), or from its flow area `area` (depth,
// water-surface level and conveyance). Links without a section kind are left alone. A fault
// prints its message, reports code 4000 at once and gives false; the node keeps its values.
bool section_from_stage(model_state& ms, int link, int node);
bool section_from_area(model_state& ms, int link, int node);
