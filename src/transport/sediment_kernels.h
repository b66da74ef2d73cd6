// Cell-level physics of overland erosion: the viscosity of the water, the settling velocity of a
// grain, the composition and median diameter of the moving sediment, the six forms of the
// transport capacity of overland flow, rain-splash detachment and flow detachment. Called by the
// sediment set-up and by the overland sediment step for one cell at a time.
#pragma once

// Unit weight of water overland (N/m3), the particle density that turns a mass of sediment into
// a bulk volume (kg/m3), gravity (m/s2) and the smallest quantity the kernels treat as nonzero.
inline constexpr double sed_unit_weight = 9792.342;
inline constexpr double sed_particle_density = 2645.23;
inline constexpr double sed_gravity = 9.81;
inline constexpr double sed_tiny = 1e-16;

// The sediment of one cell: per class k = 1..n, vol[k][slot] the volumes (m3: 1 change of the
// parent soil, 2 suspended, 3 loose deposit, 4 routed out) and fract[k][slot] the compositions
// (1 soil fraction, 2 or 3 composition of the suspended or of the loose sediment); row 0 holds
// totals where said. eroded[0..n] accumulates the volume taken up in the step, total at 0.
struct cell_sediment {
  int n = 0;
  double* const* vol = nullptr;
  double* const* fract = nullptr;
  double* eroded = nullptr;
};

// The class data of a run: per class 1..n the diameter (mm) and specific gravity; optionally
// (null: worked out at every use) the logarithms the median diameter interpolates on, log_diam[k]
// = log(part_diam[k]) and log_step[k] = log(part_diam[k] / part_diam[k + 1]) for k < n.
struct sediment_class_data {
  int n = 0;
  const double* part_diam = nullptr;
  const double* spec_grav = nullptr;
  const double* log_diam = nullptr;
  const double* log_step = nullptr;
};

// Fills log_diam[1..n] and log_step[1..n - 1] of the diameters part_diam[1..n] (mm), the same
// numbers the median diameter would work out at every use; log_step[n] is 0.
void sediment_class_logs(int n, const double* part_diam, double* log_diam, double* log_step);

// Kinematic viscosity of water (m2/s) at temp_c degrees Celsius (a negative temperature is taken
// as 0): 1.0e-6 at 20 degrees.
double kinematic_viscosity(double temp_c);

// Settling velocity (m/s) in still water of a sphere of diameter diam_mm and specific gravity s in
// water of kinematic viscosity nu: the Stokes velocity up to 0.1 mm, above it the form that
// follows the drag of coarser grains through the dimensionless diameter.
double settling_velocity(double spec_grav, double diam_mm, double nu);

// Which composition describes the cell's moving material: 2 when it holds suspended sediment, else
// 3 when it holds loose deposit (fract[k][slot] then recomputed from the volumes, the slot's total
// stored in vol[0][slot]), else 1 (the soil fractions as they stand).
int moving_composition(const cell_sediment& cell);

// Median diameter (micrometres) of the cell's moving material, interpolated on the logarithm of
// the diameter between the classes whose cumulative fraction, counted from the coarsest, brackets
// one half. A class that alone holds half or more gives its own diameter; a single class, or
// fractions that never reach one half, give the diameter of the finest class.
double median_diameter(const cell_sediment& cell, const sediment_class_data& classes);

// Transport capacity (m3 of sediment in the step) of flow of unit discharge q (m2/s) at depth h
// (m) down slope S over a cell of side dx during dt seconds, by form `method` 1..6; sed_k is the
// cell's erodibility (forms 1 and 2). Zero depth or discharge gives 0; a method outside 1..6
// gives q.
double sed_transport_capacity(int method, double slope, double h, double q, double dt, double dx,
                              const cell_sediment& cell, const sediment_class_data& classes,
                              double sed_k);

// Transport capacity of form 3 or 4 from the natural logarithm of its water term (log_term, of
// sed_water_term): the capacity sed_transport_capacity gives, with the water term's power and
// the median diameter's taken together as one exponential. Zero depth or discharge gives 0.
double sed_stream_power_capacity(int method, double log_term, double h, double q, double dt,
                                 double dx, const cell_sediment& cell,
                                 const sediment_class_data& classes);

// The same capacity from the logarithms of the water term and of the median diameter in
// micrometres (sed_log_median_um): a cell whose two faces both carry its suspension off takes
// the median once for both.
double sed_stream_power_of_logs(int method, double log_term, double log_d, double h, double q,
                                double dt, double dx);
// ln of the median diameter (um) of the cell's moving material, the composition worked out as
// moving_composition does; the cell holds at least one class.
double sed_log_median_um(const cell_sediment& cell, const sediment_class_data& classes);
// The same of a composition already worked out: the share of class k (1..classes.n) at
// share[(k - 1) * stride].
double sed_log_median_of_shares(const double* share, long stride,
                                const sediment_class_data& classes);

// Rain-splash detachment at rainfall intensity r_mmh (mm/h) over depth h: loose deposit first,
// then (outside channel cells) the parent soil, all of it into suspension. The splash volume is
// sed_splash_volume's (sediment_lanes.h).
void sed_splash_detach(const cell_sediment& cell, double r_mmh, double h, double dt, double dx,
                       double splash_k, double a, double b, bool channel_cell);

// Splash detachment of a splash volume (m3) already worked out for a cell under rain: the part
// of sed_splash_detach that takes the sediment.
void sed_splash_take(const cell_sediment& cell, double splash, bool channel_cell);

// Flow detachment by shear of depth h on slope S, up to the room left under the capacity `cap`:
// loose deposit first, then (outside channel cells) the parent soil beyond the critical shear.
void sed_flow_erode_deposit(const cell_sediment& cell, double slope, double h, double dt, double dx,
                            double coef, double expo, double crit, double cap, bool channel_cell);

// Channel sand: the settling velocity (m/s) of the representative sand grain of diameter d (m)
// in water of kinematic viscosity nu, with (s - 1) g of quartz.
double yang_fall_velocity(double d, double nu);

// The sand the flow of discharge q (m3/s, its sign kept) carries through a section of flow area
// `area` and wetted perimeter `perim` (m) on friction slope `slope` (m3/s of sand), by the unit
// stream power of the flow over the critical one of a grain of diameter d (m) settling at w.
double yang_sand_capacity(double q, double area, double perim, double slope, double d, double nu,
                          double w);

// Flow area and wetted perimeter (m2, m) of a break-point section at depth y from its depth
// table (levels 1..levels at spacing dy in area[] and perim[]): below the first level the first
// level scaled by (y / dy)^(5/3), above the top the top interval extended, between levels
// linear.
void breakpoint_area_perimeter(const double* area, const double* perim, double dy, int levels,
                               double y, double& a, double& p);

// How far (m) the bed of a trapezoidal section of bottom width `bottom` and side slope
// `side_slope` rises when a bulk area change_area (m2) of sand is laid on it (a layer that
// follows the banks), or falls when that much is taken away (from the bottom width), never more
// than the erodible depth.
double bed_rise(double change_area, double bottom, double side_slope, double erodible_depth);

// The share of a lake's suspended wash load of one class that settles in a step of dt seconds:
// the water layer a grain of settling velocity w (m/s) falls through over the lake's surface
// area (m2), w dt area, over the lake's water volume (m3). A step whose fall reaches the lake's
// mean depth clears the whole water column (1); a lake without water settles nothing (0).
double lake_settled_fraction(double w, double dt, double area, double volume);
