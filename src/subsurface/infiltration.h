// Infiltration: the Green and Ampt kernels (single layer, three layers, and the wetting front
// with redistribution), the three exfiltration variants and the water contents of the soil
// transport layers. infiltration_step (subsurface_steps.h) unpacks the run's record and calls
// the kernels; the kernels work on one-based spans of per-cell arrays and scalars only.
#pragma once

#include <cstddef>
#include <span>

#include "subsurface/soil_table_state.h"

// Frozen-ground index above which the soil takes no water (long-term runs).
inline constexpr double frozen_ground_index = 83.0;

// Cells whose infiltrated depths are summed together: cells 1..1024, 1025..2048, ...; the block
// sums are added in block order, so a total does not depend on the number of threads. Within a
// block, cell first + k goes to running sum k mod infiltration_sum_lanes, and the eight sums are
// added pairwise ((s0 + s1) + (s2 + s3)) + ((s4 + s5) + (s6 + s7)), so that the sum runs in
// vector lanes.
inline constexpr int infiltration_sum_block_cells = 1024;
inline constexpr int infiltration_sum_lanes = 8;

// The sum of a block's running sums, pairwise as above.
inline double infiltration_lane_total(const double* s) {
  return ((s[0] + s[1]) + (s[2] + s[3])) + ((s[4] + s[5]) + (s[6] + s[7]));
}

// Newton iterations of one implicit Green and Ampt solve before it falls back on bisection.
inline constexpr int green_ampt_newton_cap = 50;

// Cumulative infiltrated depth at the end of a step of a Green and Ampt soil under ponding: the
// root Fn > F of G ln((G + Fn) / (G + F)) + K dt - (Fn - F) = 0, with G the capillary head
// times the moisture deficit, K the conductivity, F the depth at the start of the step and the
// Newton iteration started at first_guess until |residual| <= tolerance. A soil without a
// deficit (G <= 0) takes K dt. Newton that has not converged after green_ampt_newton_cap
// iterations, or that leaves the bracket, gives way to bisection, so every input ends.
double green_ampt_implicit_depth(double G, double K, double dt, double F, double first_guess,
                                 double tolerance);

// The single-layer Green and Ampt scheme (m, m/s, s). Per-cell arrays are one-based with at
// least cell_count + 1 elements; lake_cells and area_reduction_cell may be empty when their
// flag is off.
struct green_ampt_views {
  int cell_count = 0;
  double dt = 0.0;                  // s
  std::span<const double> ks;       // per cell: saturated conductivity (m/s)
  std::span<const double> G;        // per cell: capillary head x moisture deficit (m)
  std::span<const int> lake_cells;  // per cell: channel lake number, 0 none
  int lake_flag = 0;                // channel lakes on: their cells are skipped
  // per cell: 1 where the water table stands at the ground, a cell that takes no water; may be
  // empty (every cell takes water)
  std::span<const int> exfil_cells;
  int area_reduction = 0;                       // area reduction on
  std::span<const double> area_reduction_cell;  // per cell: infiltrating fraction
  std::span<double> ov_depth;                   // per cell: overland depth (m), in/out
  std::span<double> inf_depth_cum;              // per cell: cumulative infiltration (m), in/out
  std::span<double> inf_rate;                   // per cell: rate of the step (cm/h), out
  int wide_vectors = 1;  // vector solves where the processor has them; 0: scalar solves only
  // The step's booking, taken in the same pass when inf_depth_prev is given: every cell's
  // increment inf_depth_cum - inf_depth_prev is added to its run total (and to the Sacramento
  // and long-term totals when given), inf_depth_prev takes inf_depth_cum, and the increments
  // times cell_area are summed over the blocks of infiltration_sum_block_cells in block order.
  std::span<double> inf_depth_prev;      // per cell (m), in/out; empty: no booking
  std::span<double> inf_depth_total;     // per cell (m), in/out
  std::span<double> sac_inf_depth;       // per cell (m), in/out; may be empty
  std::span<double> inf_depth_longterm;  // per cell (m), in/out; may be empty
  double cell_area = 0.0;                // m2
  // Rain taken in the same pass, when rain_intensity is given (wide vectors only, no channel
  // lakes): before its infiltration every cell's depth grows by rain_dt x intensity / 3.6e6 m,
  // as the rainfall step puts it on the cells, and the pass gathers what that step gathers
  // (green_ampt_pass_result).
  std::span<const double> rain_intensity;  // per cell: rain reaching the ground (mm/h)
  double rain_dt = 0.0;                    // s: length of the rain's step
};

// What one pass of the single-layer scheme gathered. The rain's sums are those of the rainfall
// step, over the same blocks: the volume cell by cell in cell order within a block, the
// intensities in the lanes of infiltration_sum_lanes. The depth flags are those of the overland
// step's scan of the depths it is handed.
struct green_ampt_pass_result {
  bool rain_taken = false;     // the views' rain was taken (else the pass did nothing)
  double volume = 0.0;         // m3: infiltration booked, 0 without booking
  double rain_volume = 0.0;    // m3: rain put on the cells, area x intensity x dt / 3.6e6
  double rain_rate_sum = 0.0;  // mm/h: sum of the cells' intensities
  int rain_nan_cell = 0;       // lowest cell whose depth is no number after the rain, 0 none
  int any_depth = 0;           // some cell holds more than 1e-16 m after the infiltration
  int nan_cell = 0;            // lowest cell whose depth is no number after it, 0 none
};

// Books the increments of the cells first..last as green_ampt_views describes (prev, total,
// sac and longterm one-based, sac and longterm possibly null) and returns their sum times
// area, in the lanes of infiltration_sum_lanes.
double book_infiltration_block(const double* cum, double* prev, double* total, double* sac,
                               double* longterm, double area, int first, int last);

// G of every cell: (porosity - initial content) x capillary head, never below 0.
void green_ampt_build_g(int cell_count, std::span<const double> porosity,
                        std::span<const double> theta_init, std::span<const double> hc,
                        std::span<double> G);

// One step of the single-layer scheme for every cell, in parallel, with the step's booking when
// the views ask for it; returns the volume booked (m3), 0 without booking. The volume does not
// depend on the number of threads.
double green_ampt_cells(const green_ampt_views& v);

// The same pass, with the rain of the views when given, and what it gathered. Rain is taken
// only where green_ampt_takes_rain() and without channel lakes; otherwise the pass does nothing.
green_ampt_pass_result green_ampt_pass(const green_ampt_views& v);

// True: green_ampt_pass takes rain on every processor (its vector kernels run everywhere).
bool green_ampt_takes_rain();

// The three-layer Green and Ampt scheme (cm, cm/h, h inside; depths of the state in m).
struct green_ampt_layered_views {
  int cell_count = 0;
  double dt = 0.0;                                // s
  const soil_table_record* soil_types = nullptr;  // the table, ids 0..max_soil_types-1
  std::span<const int> soiltype;                  // per cell: soil type id
  std::span<const int> lake_cells;                // per cell: channel lake number, 0 none
  int lake_flag = 0;
  // per cell: 1 where the water table stands at the ground, a cell that takes no water; may be
  // empty (every cell takes water)
  std::span<const int> exfil_cells;
  int area_reduction = 0;
  std::span<const double> area_reduction_cell;
  double* const* theta_ml = nullptr;  // [cell][layer 1..3]: layer water contents
  std::span<double> ov_depth;         // per cell: overland depth (m), in/out
  std::span<double> inf_depth_cum;    // per cell: cumulative infiltration (m), in/out
  std::span<double> inf_rate;         // per cell: rate (cm/h), out
  std::span<double> wetdep;           // per cell: wetting-front depth (cm), in/out
};

// One step of the three-layer scheme for every cell, in parallel.
void green_ampt_multilayer_cells(const green_ampt_layered_views& v);

// Green and Ampt with redistribution (m, m/s, s).
struct green_ampt_redist_views {
  int cell_count = 0;
  double dt = 0.0;                     // s
  int call_count = 0;                  // number of this update (inf_call_count before it is raised)
  std::span<const double> ks;          // per cell: saturated conductivity (m/s)
  std::span<const double> hc;          // per cell: capillary head (m)
  std::span<const double> porosity;    // per cell: saturated content
  std::span<const double> pore_index;  // per cell: pore-size distribution index
  std::span<const double> residual;    // per cell: residual content
  std::span<const double> theta_init;  // per cell: initial content
  std::span<const int> yes_exfil;      // per cell: 1 the water table is at the surface
  int oland_lake_flag = 0;             // overland-lake map on
  std::span<const int> oland_lake;     // per cell: > 0 inside an overland lake
  int lake_flag = 0;                   // channel lakes on
  std::span<const int> lake_cells;     // per cell: channel lake number
  int area_reduction = 0;
  std::span<const double> area_reduction_cell;
  std::span<const double> frozen_index;  // per cell: frozen-ground index; a cell above 83 is
                                         // frozen and takes no water (empty: none frozen)
  std::span<double> ov_depth;            // per cell (m), in/out
  std::span<double> inf_depth_cum;       // per cell: F (m), in/out
  std::span<double> inf_rate;            // per cell (cm/h), out
  std::span<double> front_theta;         // per cell: water content of the upper front
  std::span<double> front_depth;         // per cell: depth held by that front (m)
  std::span<double> surf_moist;          // per cell: surface water content
  std::span<int> iter_pond_1;            // per cell: update at which ponding began, 0 none
  std::span<int> iter_n;                 // per cell: update of the last redistribution
  std::span<int> iter_i_less_k;          // per cell: update with the supply below Ks
  std::span<int> no_wat_prof;            // per cell: front state 0, 1 or 2
};

// One update of the redistribution scheme for every cell, in parallel.
void green_ampt_redist_cells(const green_ampt_redist_views& v);

// Exfiltration: water that a shallow water table returns to the surface, or (negative) that
// the surface loses to the soil, in one step; serial over the cells.
enum class exfil_variant { redistribution, layered, richards };

struct exfil_views {
  exfil_variant variant = exfil_variant::redistribution;
  int cell_count = 0;
  double dt = 0.0;                    // s
  double dx = 0.0;                    // m: cell side
  int gw_simulation = 0;              // saturated groundwater simulated
  double exfil_soil_depth = 0.0;      // cm: gradient depth (redistribution variant)
  double exfil_loss_rate = 0.0;       // cm/h: loss of surface water where the table lies deep
  double gw_time_step = 0.0;          // s: groundwater step (Richards variant)
  std::span<const int> yes_exfil;     // per cell
  std::span<const double> elevgw;     // per cell: groundwater head (m)
  std::span<const double> cell_elev;  // per cell: land surface (m)
  std::span<const double> ks;         // per cell (m/s): redistribution variant
  const soil_table_record* soil_types = nullptr;  // layered variant
  std::span<const int> soiltype;                  // layered variant
  std::span<const double> gw_exfil_coef;          // Richards variant with groundwater
  std::span<const double> avgks;                  // Richards variant: column conductivity (cm/h)
  std::span<const double> totaldz;                // Richards variant: column depth (cm)
  int oland_lake_flag = 0;
  std::span<const int> oland_lake;
  int lake_flag = 0;
  std::span<const int> lake_cells;
  std::span<double> ov_depth;   // per cell (m), in/out
  std::span<double> exfil_cum;  // per cell (m), in/out
};

// What the exfiltration of one step booked.
struct exfil_result {
  double volume = 0.0;      // m3: sum of e x dx^2
  double soil_depth = 0.0;  // cm: gradient depth of the last layered cell (0 when none)
};

exfil_result exfiltrate_cells(const exfil_views& v);

// Water contents of the soil transport layers from the two zone water depths of the soil
// accounting: wup in the upper zone (0..d1 cm), wlow in the lower zone (d1..d cm); d3 the depth
// of the first transport layer (cm); thick[1..3] the transport-layer thicknesses (m);
// water_table 1 with a table at head (m) under the surface at cell_elev (m).
double layer_water_fraction(int layer, int layer_count, double wup, double wlow, double d1,
                            double porosity, double d, double d3, double head, double cell_elev,
                            const double* thick, int water_table);

// The same for every layer 1..layer_count of one cell from the soil record of its type: out[k]
// for k = 1..layer_count.
void soil_layer_water_content(double wup, double wlow, double head, double cell_elev,
                              const double* thick, int water_table, const soil_table_record& soil,
                              int layer_count, double* out);
