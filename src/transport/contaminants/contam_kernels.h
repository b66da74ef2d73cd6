// Kernels of the dissolved-constituent steps, on plain arrays and scalars: the pro-rating of a
// process's gathered mass to the transport step, the dissolved fraction of a soil layer, the
// net source of a cell built from the process accumulators, the two directional passes of the
// overland advection and dispersion (predictor and corrector), and the hand-off of the mass of
// a cell that has run dry. Called by the soil and overland constituent steps.
#pragma once

#include <cmath>

// m x dt / elapsed when the transport step dt is shorter than the process's elapsed time by
// more than half a second, else m whole.
inline double prorate_to_step(double dt, double elapsed, double m) {
  return dt < elapsed - 0.5 ? m * dt / elapsed : m;
}

// Share of a soil layer's constituent in its pore water under linear partitioning: water
// content theta, partition coefficient kd (L/kg), particle density 2650 kg/m3; 0 for a dry
// layer without sorption.
double soil_dissolved_fraction(double theta, double kd);

// One process term of a cell's net source: `acc` (g) gathered over `elapsed` seconds is
// pro-rated to the step dt and added to the cell mass m with the sign given (+1 source, -1
// loss). Should m fall below 0, only what takes it to 0 is applied and the accumulator is
// emptied; otherwise the accumulator keeps the unapplied rest. Terms of at most 1e-16 g are
// skipped. Returns the amount applied, in the accumulator's sense.
// (Inline: the transport step applies three terms to every cell.)
inline double apply_cell_term(double& m, double& acc, double dt, double elapsed, double sign) {
  if (std::fabs(acc) <= 1e-16) return 0.0;
  const double share = prorate_to_step(dt, elapsed, acc);
  const double change = sign * share;
  if (m + change < 0.0) {
    const double taken = -m;
    m = 0.0;
    acc = 0.0;
    return sign * taken;
  }
  m += change;
  acc -= share;
  return share;
}

// The arrays of the overland advection-dispersion passes, all per cell 1..cell_count.
struct ov_constit_view {
  int cell_count = 0;
  double dt = 0.0;    // s
  double area = 0.0;  // m2: gridsize squared
  const int* abovecon = nullptr;
  const int* belowcon = nullptr;
  const int* leftcon = nullptr;
  const int* rightcon = nullptr;
  const double* depth = nullptr;   // m: overland depth
  const double* flux_x = nullptr;  // m3/s across the right face, positive to the right
  const double* flux_y = nullptr;  // m3/s across the lower face, positive downwards
  const double* disp = nullptr;    // m2/s: dispersion coefficient
  const double* source = nullptr;  // g/s: net source rate
  double* mass = nullptr;          // g, in/out
  double* conc = nullptr;          // g/m3, in/out
  // Work arrays.
  double* face = nullptr;       // g/s into the cell from its upstream neighbour of the pass
  double* face_corr = nullptr;  // g/s: the corrector's flux, then the mean of the two
  double* pred_conc = nullptr;
  int sweep = 1;  // 1: the vertical pass first, 2: the horizontal pass first
  // The farthest any cell's neighbour lies from it in the cells' numbering (ov_constit_reach),
  // or 0 to have the passes find it. A caller moving several constituents over the same cells
  // finds it once.
  int reach = 0;
  // Per cell, or null: a value of 0 or more holds the cell's concentration at it through both
  // passes (a cell under a lake, which lends the lake's concentration to the water leaving it);
  // such a cell's mass then gathers what its faces moved, negative when more left than came,
  // and is never emptied.
  const double* held_conc = nullptr;
};

// Moves the constituent over the step: a vertical pass (neighbours above and below) and a
// horizontal pass (left and right), in the order of v.sweep, each a predictor of the face
// fluxes from the starting concentrations and a corrector from the predicted ones, every cell
// updated with the mean flux of each of its two faces and half the net source. A cell whose
// mass comes out negative ends the pass empty. Returns the mass (g) that both passes had to
// add back to the cells they left negative, so that the books can hold it. Each cell gathers
// the changes of its own faces, so the result is the same on any number of threads.
double ov_constit_flux(const ov_constit_view& v);

// The farthest any cell's neighbour (above, below, left or right) lies from it in the cells'
// numbering, 0 when no cell has one.
int ov_constit_reach(const ov_constit_view& v);

// The mass of a cell that has run dry during the transport step (depth below 1e-16 m, mass at
// least 1e-16 g) leaves the water: with soil transport it goes to the soil column's
// infiltration (`soil_infil`) and the step's infiltration term, without it to the land store
// `land` and the step's land term. The cell's mass and concentration become 0. Returns true
// when the cell handed its mass over.
bool dry_cell_handoff(double depth, double& mass, double& conc, bool soil_transport,
                      double& soil_infil, double& land, double& infil_term, double& land_term);

// The carrier layers of a layered soil cell: three when the mixing layer (mixing_cm) is above
// 1e-16 and thinner than the soil type's layer 1 (h1_cm), which it then splits into the mixing
// layer and the rest, else two (the soil's layers 1 and 2). Thicknesses in m and porosities of
// the solids' share, per carrier 1..layers.
struct carrier_column {
  int layers = 2;
  double thickness[4] = {};
  double porosity[4] = {};
};
carrier_column layered_carrier_column(double mixing_cm, double h1_cm, double h2_cm, double phi1,
                                      double phi2);

// One constituent in one cell's carrier layers over a soil step, all arrays per layer
// 1..layers: the dissolved part of each layer decays (constituents of the table only), the
// water draining across the bottom of each layer carries the layer's pore water down
// (`drained`[l], m of water over the step; at most the mass the layer holds), layer 1 takes
// what infiltrated and gives what the overland water took up, and what leaves the bottom of the
// column seeps to the groundwater. Held at fixed concentrations (`fixed`) the layers keep their
// masses and only what moved is returned.
struct soil_column_view {
  int layers = 0;
  double area = 0.0;  // m2: gridsize squared
  double dt = 0.0;    // s
  bool sorbs = true;  // a constituent of the table: partitions and decays
  bool fixed = false;
  double kd = 0.0;      // L/kg
  double decay = 0.0;   // 1/s
  double infil = 0.0;   // g into layer 1
  double uptake = 0.0;  // g out of layer 1 into the overland water
  const double* thickness = nullptr;
  const double* porosity = nullptr;
  const double* theta = nullptr;
  const double* drained = nullptr;
  double* mass = nullptr;            // g, in/out
  double* conc = nullptr;            // g/kg of solids x 1000, out
  double* frac_dissolved = nullptr;  // out
};
struct soil_column_moved {
  double decayed = 0.0;    // g
  double seep_down = 0.0;  // g left the bottom of the column
};
soil_column_moved soil_column_step(const soil_column_view& v);
