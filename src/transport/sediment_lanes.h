// The water side of the overland sediment step, worked out for every cell before any sediment
// moves: the water-surface slopes, each cell's outflow, the logarithms of the water terms of the
// stream-power capacity forms (the cell's own and its right and lower faces'), the share of
// each class that settles in the cell and the volume rain splash detaches from it. It depends on
// the water alone, so the step makes it in one parallel pass, eight cells at a time; the transport
// then needs one exponential where the capacity took a power and an exponential. Comes as an 8-wide
// vector kernel and as a scalar one giving the same bits (the lane math on one lane).
#pragma once

struct ov_sediment_obj;

// What the pass reads and writes. Per-cell arrays are one-based, cells 1..cell_count; a
// neighbour index of 0 means none (element 0 of every array is read then, never used).
struct sed_water_view {
  int cell_count = 0;
  double dx = 0.0;                 // m
  const double* depth = nullptr;   // m
  const double* elev = nullptr;    // m: ground elevation
  const double* flux_x = nullptr;  // m3/s across the right face
  const double* flux_y = nullptr;  // m3/s across the lower face
  const int* right = nullptr;      // neighbour cells, 0 none
  const int* below = nullptr;
  const int* left = nullptr;
  const int* above = nullptr;
  int outlet = 0;                        // outlet cell draining over the grid's edge, 0 none
  int outlet_drains_y = 0;               // the outlet drains through its lower side, else its right
  double outlet_slope = 0.0;             // bed slope at the outlet
  double outlet_q = 0.0;                 // m3/s leaving the outlet cell over the edge
  int method = 0;                        // capacity form: 3 and 4 get the logarithms of water terms
  int classes = 0;                       // size classes 1..classes
  const double* settling_vel = nullptr;  // per class: settling velocity in still water (m/s)
  double dt = 0.0;                       // s: the step
  const double* rain = nullptr;          // mm/h: rainfall intensity (null: no rain)
  const double* splash_k = nullptr;      // the cell's splash coefficient (60 where not positive)
  // Written: water-surface slopes toward the right and lower neighbours (the outlet's drain
  // side takes the outlet slope), the cell's outflow (m3/s), and per class the share of the
  // suspension that settles in the step (1 in still or dry water).
  double* slope_x = nullptr;
  double* slope_y = nullptr;
  double* cell_discharge = nullptr;
  double* const* settle_share = nullptr;  // [class 1..classes][cell]
  double* splash = nullptr;               // m3: the splash volume (sed_splash_volume), 0 dry
  // Written for forms 3 and 4 (left alone otherwise): the logarithm of the water term of the
  // cell's own flow (its outflow on the steepest slope) and of the flow across its right and
  // lower faces, from whichever cell the water leaves (the outlet's drain side carries
  // outlet_q). See sed_water_term.
  double* log_cell = nullptr;
  double* log_x = nullptr;
  double* log_y = nullptr;
};

// The water term of the stream-power forms for unit discharge q (m2/s) at depth h (m) on slope
// S: form 3 the unit stream power V S in cm/s (V = q / h), form 4 the stream power
// 1000 gamma h S V; any other form 0.
double sed_water_term(int method, double slope, double h, double q);

// ln(x) as the pass takes it for x >= 0: the lane logarithm (subnormal x scaled first), -inf for
// 0, +inf for +inf; NaN for NaN or a negative x.
double sed_log_of_term(double x);

// Splash coefficients a and b of rainfall intensity r (mm/h): the detached rate grows as a r^b.
void sed_splash_coefficients(double r_mmh, double& a, double& b);

// The bulk volume (m3) rain of intensity r_mmh (mm/h, above the smallest quantity) splashes
// loose in a step of dt seconds from a cell of side dx under depth h (m): the drop diameter
// 0.00124 r^0.182 (m), a damping exp(1 - h / drop) where the water is deeper than a drop, and
// splash_k a r^b dt dx^2 / particle density. Taken with the lane math's powers and exponential,
// the pass's bits on every processor.
double sed_splash_volume(double r_mmh, double h, double dt, double dx, double splash_k, double a,
                         double b);

// The pass over cells lo..hi, on one lane and eight at a time.
void sed_water_pass_scalar(const sed_water_view& v, int lo, int hi);
void sed_water_pass_wide(const sed_water_view& v, int lo, int hi);

// Allocates the work arrays of the pass in the overland sediment object (log_water_*,
// settle_share, splash_volume) for `cells` cells and `classes` classes; false when the memory
// cannot be had. Called once by the overland sediment set-up.
bool sed_water_pass_allocate(ov_sediment_obj& sed, int cells, int classes);
