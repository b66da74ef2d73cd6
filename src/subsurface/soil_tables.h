// Soil tables and initial soil moisture: the readers of the MULTI_LAYER_SOIL block, the
// soil-layer file and the layered soil table of the soil columns (declared with the other
// subsurface services in subsurface_steps.h), the uniform initial moisture and the porosity of
// the layered soil column at a moving water table.
#pragma once

#include <span>

#include "subsurface/soil_table_state.h"

// The value in slot `i` (0..49) of a soil record: a parameter of layer L (0..2) lies in the slot
// of its group plus L.
double& soil_slot(soil_table_record& r, int i);
double soil_slot(const soil_table_record& r, int i);

// Uniform initial moisture of every cell 1..cell_count (parallel): theta_init = value, raised to
// residual + 0.01 when the residual content exceeds it, then lowered to porosity - 0.01 when it
// exceeds the porosity. With by_cell 1 the cell's residual and porosity are used, else those of
// the cell's soil type (by_soil arrays indexed by soil id). Spans are one-based.
void init_uniform_soil_moisture(int cell_count, std::span<const double> porosity_by_soil,
                                std::span<double> theta_init,
                                std::span<const double> residual_by_soil,
                                std::span<const int> soiltype,
                                std::span<const double> porosity_cell,
                                std::span<const double> residual_cell, int by_cell, double value);

// Node counts of one soil type's column: the last node of layers 1, 2 and 3.
struct soil_node_counts {
  int num1 = 0;
  int num2 = 0;
  int num3 = 0;
};
soil_node_counts layered_soil_node_counts(const soil_table_record& s, int water_table);

// Nodes of one cell's column: numtot and numcells of a cell whose soil column (node counts
// `n`, layer thicknesses of `s`) lies above the aquifer bottom at `bottom` (m) under the surface
// at `surface` (m), with groundwater cells of gw_cell_dz (m).
void layered_cell_nodes(const soil_table_record& s, const soil_node_counts& n, int water_table,
                        double surface, double bottom, double gw_cell_dz, int& numtot,
                        int& numcells);

// The porosity that the groundwater solve uses for a cell's change of storage when its water
// table moves from prev_head to new_head (m): walks the nodes of the cell's column (thickness
// dz[1..], saturated contents thetas[1..], node_count nodes) that the table sweeps.
double gw_layered_soil_value(const soil_table_record& s, const double* dz, const double* thetas,
                             int node_count, double surface, double gw_cell_dz, double new_head,
                             double prev_head);
