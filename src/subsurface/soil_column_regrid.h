// The Richards soil column of a cell at a moving water table: after the groundwater has moved
// the table, the column is rebuilt down to it (nodes of each layer's nominal thickness, the last
// one cut at the table, one saturated node below), its water moved onto the new nodes, and the
// change of the column's water reported for the groundwater's books. The groundwater step calls
// it per cell once the table has moved.
#pragma once

#include "subsurface/richards_column.h"
#include "subsurface/soil_table_state.h"

// A column whose node parameters the regrid may set (nodes 0..capacity).
struct regrid_column {
  double* phead = nullptr;
  double* theta = nullptr;
  double* dz = nullptr;
  double* ks = nullptr;
  double* thetas = nullptr;
  double* thetar = nullptr;
  double* thetawp = nullptr;
  double* thetafc = nullptr;
  double* thehac = nullptr;
  double* bchc = nullptr;
  double* bp = nullptr;
  double* lam = nullptr;
  double* alpha = nullptr;
  double* beta = nullptr;
  double* ahav = nullptr;
  double* bhav = nullptr;
  int capacity = 0;  // highest node the arrays hold
};

// Gives node k the parameters of soil layer L (0..2) of `soil` for the soil functions `model`.
void set_node_layer(const regrid_column& col, int k, const soil_table_record& soil, int L,
                    int model);

// What the regrid did.
struct regrid_result {
  int nodes = 0;        // the column's new node count (the last node is the saturated one)
  int yes_exfil = 0;    // 1: the table reaches the ground (a column of one node)
  double gained = 0.0;  // water the column's nodes 1..nodes-1 gained (cm; a loss is negative)
  bool fits = true;     // false: the column needs more nodes than it holds (nothing changed)
};

// Rebuilds the column of old_nodes nodes under ground (m) over a table at head (m), with aquifer
// nodes of aquifer_dz (m) below the soil layers of `soil`. work holds 2 (capacity + 1) doubles.
regrid_result gw_soil_column_regrid(const regrid_column& col, int old_nodes,
                                    const soil_table_record& soil, int model, double ground,
                                    double head, double aquifer_dz, double* work);
