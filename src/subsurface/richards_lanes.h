// The soil functions of the Richards columns over runs of nodes of one column, on vector lanes
// (richards_lanes.cpp): every instruction set and the one-node forms give the same bits. The
// column step calls them after every solve; the retention functions of richards_column.h are
// their one-node forms.
#pragma once

#include "subsurface/richards_column.h"

// The constants of the soil functions of a column's nodes, derived once per column step from
// the nodes' parameters (arrays indexed by node, as the column's).
// With Brooks-Corey it also keeps, per node, the head and content from which the node's
// conductivity and capacity were last computed in the column step (no number before the first),
// so that a run of eight nodes whose heads and contents are those bits keeps its values.
inline constexpr int richards_soil_constant_arrays = 15;
struct richards_soil_constants {
  double* range;        // thetas - thetar
  double* inv_range;    // 1 / range
  double* inv_hb;       // Brooks-Corey: 1 / bubbling pressure (1/cm)
  double* a;            // Brooks-Corey: parabola scale sqrt(1 - Sec) / transition head (1/cm)
  double* inv_a;        // 1 / a (cm)
  double* cm_dry;       // Brooks-Corey: -(lambda / hb) range (1/cm)
  double* cm_wet;       // Brooks-Corey: -2 range a^2 (1/cm^2)
  double* neg_lam;      // -lambda
  double* neg_inv_lam;  // -1 / lambda
  double* k_wet;        // 3 + 2 / lambda
  double* inv_alpha;    // Havercamp: 1 / alpha (1/cm)
  double* inv_beta;     // Havercamp: 1 / beta
  double* cm_hav;       // Havercamp: range beta / alpha (1/cm)
  double* key_head;     // Brooks-Corey: head of the last computation of the functions (cm)
  double* key_theta;    // Brooks-Corey: content of the last computation of the functions
};

// Fills the constants of nodes first..last (and clears their last computation).
void richards_soil_constants_of(const richards_column_view& v, const richards_soil_constants& c,
                                int model, int first, int last);

// What richards_nodes updates on nodes first..last.
enum class richards_node_update {
  functions = 0,           // conductivity and capacity from heads (and contents near saturation)
  contents_and_functions,  // contents from heads, then conductivity and capacity
  contents,                // contents from heads
  heads,                   // heads from contents; a saturated node keeps its head, not below 0
};
void richards_nodes(const richards_column_view& v, const richards_soil_constants& c, int model,
                    richards_node_update what, int first, int last);

// Head of node j at content theta, and content of node j at head h (the constants derived on
// the spot, the same bits as richards_nodes).
double richards_head_of_content(const richards_column_view& v, int model, int j, double theta);
double richards_content_of_head(const richards_column_view& v, int model, int j, double h);
// Conductivity and capacity of node j alone (the same bits as richards_nodes).
void richards_node_functions(const richards_column_view& v, int model, int j);
