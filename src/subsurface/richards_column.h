// Richards soil columns: the soil hydraulic functions (Brooks-Corey and Havercamp conductivity,
// capacity and retention) and the kernel that advances one cell's column over one infiltration
// step with the mixed form of the Richards equation. richards_infiltration (richards_setup.cpp)
// unpacks the run's record and runs the columns eight side by side (richards_batch.h), each
// ending on the bits this one-column kernel gives it, on its own thread's work space.
#pragma once

#include <cstddef>

// Soil model of the columns.
inline constexpr int soil_model_brooks_corey = 1;
inline constexpr int soil_model_havercamp = 2;

// Sub-step limits (h): the first sub-step of a column whose top node is saturated, the longest
// sub-step once the surface is saturated or the supply limits the inflow, and the shortest
// sub-step the content control may ask for (so that a column always reaches the step's end).
inline constexpr double richards_saturated_start_step = 0.001388888888888889;  // 5 s
inline constexpr double richards_saturated_step_cap = 0.02;
inline constexpr double richards_min_substep = 1.0e-5;

// One column's node arrays, nodes 0 (the surface node above the soil) .. n (the bottom node).
// Heads and thicknesses in cm (negative head = suction), conductivities in cm/h, time in h.
struct richards_column_view {
  double* phead = nullptr;          // pressure head
  double* khead = nullptr;          // relative conductivity (0..1)
  double* theta = nullptr;          // water content
  double* watcap = nullptr;         // specific moisture capacity d(theta)/dh (1/cm)
  double* watflux = nullptr;        // Darcy flux through the node's top face, positive down (cm/h)
  double* source = nullptr;         // source (+) or sink (-) (1/h)
  const double* ks = nullptr;       // saturated conductivity (cm/h)
  const double* dz = nullptr;       // node thickness (cm)
  const double* thetas = nullptr;   // saturated content
  const double* thetar = nullptr;   // residual content
  const double* thetawp = nullptr;  // wilting-point content
  const double* thetafc = nullptr;  // field-capacity content
  const double* thehac = nullptr;   // Brooks-Corey: content at the parabolic transition
  const double* bchc = nullptr;     // Brooks-Corey: head at the parabolic transition (cm)
  const double* bp = nullptr;       // Brooks-Corey: bubbling pressure (cm, negative)
  const double* lam = nullptr;      // Brooks-Corey: pore-size distribution index
  const double* alpha = nullptr;    // Havercamp retention alpha (cm)
  const double* beta = nullptr;     // Havercamp retention beta
  const double* ahav = nullptr;     // Havercamp conductivity A
  const double* bhav = nullptr;     // Havercamp conductivity B
};

struct subsurface_state;
// The view of cell c's column in the run's Richards node arrays.
richards_column_view richards_column_of(subsurface_state& ss, int c);

// Soil functions of node j. Brooks-Corey below the transition head follows the power law and
// above it, up to saturation, a parabola in the head that meets the power law with the same
// content and slope at the transition; Havercamp is the rational form in |h| / alpha.
// Relative conductivity and capacity of nodes 1..n from their heads (Brooks-Corey near
// saturation from their contents); node 0 copies node 1.
void soil_props(const richards_column_view& v, int model, int n);
// Head of node j from its content (a content at or below residual is taken just above it).
double soil_psi_from_theta(const richards_column_view& v, int model, int j, double theta);
// Content of node j at head h (saturated at h >= 0).
double soil_theta_from_psi(const richards_column_view& v, int model, int j, double h);
// The Brooks-Corey transition point of a layer: content and head where the parabola takes
// over, Se = 2 / (2 + lambda).
double brooks_corey_transition_theta(double thetas, double thetar, double lambda);
double brooks_corey_transition_head(double bubbling, double lambda);

// Options of the columns (project cards).
struct richards_options {
  int model = soil_model_brooks_corey;  // soil functions
  int k_option = 2;                     // interface conductivity: 1 weighted mean, 2 geometric
  int upper_option = 1;  // ponded top face: 2 saturated, 3 saturated above node 1, else node 1
  int iter_max = 1;      // Picard iterations under the flux boundary (at least 1 is made)
  double weight = 1.0;   // weight of the upper node in the weighted mean
  double dtheta_max = 0.0025;  // largest content change per sub-step (above 0)
  bool water_table = false;    // the bottom node holds a fixed head; else free drainage
};

// What the weather asks of one column over the step (cm/h), and its root zone (cm).
struct richards_demand {
  double surface_et = 0.0;  // evaporation from surface water
  double soil_et = 0.0;     // evapotranspiration the root zone can give at most
  double root_depth = 0.0;  // depth of the root zone
};

// Water moved by one column over one step (cm of water over the cell).
struct richards_books {
  double infiltrated = 0.0;  // net flux through the soil surface, down positive
  double drained = 0.0;      // flux through the bottom face of the last solved node, down positive
  double et_surface = 0.0;   // evaporated from surface water
  double et_soil = 0.0;      // taken from the root zone
  double rate = 0.0;         // inflow rate of the last sub-step (cm/h)
  long substeps = 0;         // sub-steps taken
  long solves = 0;           // tridiagonal solves made
  bool bad_number = false;   // a flux or a content was no number (the step was refused)
};

// Work space of one column: twenty-six arrays of max_nodes + 1 doubles (nodes 0..max_nodes).
inline constexpr int richards_work_arrays = 26;
inline std::size_t richards_work_size(int max_nodes) {
  return static_cast<std::size_t>(richards_work_arrays) * (static_cast<std::size_t>(max_nodes) + 1);
}

// Advances a column of n nodes (n >= 2; node n is the bottom node) over dt_h hours with its
// own sub-steps, taking its inflow from the surface water ov_depth (m, updated) with the
// surface boundary bound_type (1 flux, 2 ponded head, 3 saturated surface; updated) and the
// proposed sub-step dtr (h, updated). Adds what moved to `books`. work holds
// richards_work_size(n) doubles at least.
void richards_column_step(const richards_column_view& v, int n, const richards_options& o,
                          const richards_demand& demand, double dt_h, double& ov_depth,
                          int& bound_type, double& dtr, double* work, richards_books& books);

// Solves the column's tridiagonal system of rows 1..n (lower[j] x[j-1] + diagonal[j] x[j] +
// upper[j] x[j+1] = rhs[j]; lower[1] and upper[n] unused) into rhs, eliminating from both ends
// toward the middle row; diagonal is overwritten. The system must be diagonally dominant.
void richards_tridiag_solve(int n, const double* upper, double* diagonal, const double* lower,
                            double* rhs);

// Water held by nodes 1..n-1 of a column (cm).
double richards_column_water(const richards_column_view& v, int n);
