// Explicit overland routing: over one overland step, water crosses every open cell face at the
// unit-width discharge of Manning's formula with the water-surface slope, in sub-steps that
// are cut to a third (and the whole step redone) when a face moves too much water. The
// overland flow step calls ov_route_explicit; the face formulas below work on scalars alone,
// the cell kernels (explicit_overland_kernels.h) on raw arrays and the face stencil.
#pragma once

#include "overland/overland_state.h"

struct model_state;

// Water-surface slope of a face from the owning cell (depth h_i) to its neighbour (depth h_k):
// s0 - (h_k - h_i) / dx; 0 when the water surface across the face is exactly level.
double ov_friction_slope(double s0, double h_i, double h_k, double dx);

// The face law's cap on a discharge q (m2/s) across a face of water-surface slope t: at most
// cap x |t|, with cap = ov_surface_share dx^2 / tau, so that the face moves no more than that
// share of the surface difference across it in a sub-step of tau seconds. Sets `cut` when the
// cap cut q across a slope above `matters` (ov_cap_failing_difference / dx): there the sub-step
// is too long for the flow to be right.
double ov_capped_discharge(double q, double t, double cap, double matters, bool& cut);

// The depth power of Manning's formula for a cell: (h - r)^(5/3), 0 when h is not above r.
double ov_flow_power(double h, double r);

// Unit-width discharge (m2/s, positive towards the neighbour) across a plain face: 0 when the
// owning cell is below its retention depth r_i; otherwise the face law's slope term of S
// (ov_slope_term: Manning's sign(S) sqrt|S|, linear below the threshold slope) / n_i H^(5/3)
// with H the upwind cell's depth above its own retention depth (0 when not positive).
double ov_face_discharge(double s0, double h_i, double h_k, double r_i, double r_k, double n_i,
                         double dx);

// Flow of a wetland cell whose water stands h2 above its vegetated layer (m2/s): seepage through
// the layer plus Manning's law above it, blended with a linear law below the transition depth.
double ov_wetland_above_layer(double S, double h2, const wetland_record& w);

// Unit-width discharge across the face of a wetland cell i (record w) to neighbour k, from the
// friction slope S: through the vegetated layer when the water stands within it, by a blend of
// a linear and Manning law above it between two wetland cells, or by Manning's law with the
// receiving cell's roughness towards or from a cell that is no wetland.
double ov_wetland_face_discharge(double S, double h_i, double h_k, double r_k,
                                 const wetland_record& w, bool k_is_wetland, double n_i,
                                 double n_k);

// The sub-step test of a face: the depth moved, q tau / dx, is 0.06 m or more in magnitude, or
// it would leave the owning cell (depth h_i) below -0.0001 m.
bool ov_face_fails(double q, double tau, double dx, double h_i);

// Drains the outlet cell over dt seconds at Q = h^1.666667 sqrt(slope) dx / n, taking at most
// the water standing in the cell; lowers h and returns the volume taken (m3).
double ov_outlet_drain(double& h, double slope, double n, double dx, double dt);

// Routes the overland water of one overland step of dt seconds by the explicit scheme and
// returns the volume drained at the outlet (m3) when there is no channel routing, else 0.
// Leaves the face discharges of the last sub-step in ov_flux_x and ov_flux_y (m3/s).
double ov_route_explicit(model_state& ms, double dt_seconds);

// The end of an explicit overland step of dt seconds: water held behind embankments spills
// over their low spots, and without channel routing the outlet cell drains over the step when
// `outlet_drains` (not when it lies in a lake). Returns the volume drained at the outlet (m3).
double ov_explicit_step_end(model_state& ms, double dt, bool outlet_drains);

// The explicit scheme's memory moves on by one call: the sweep order toggles, a reduced sub-step
// counts down (and the restored step is announced once the count has run out). Returns the
// sub-step of this call: the remembered reduced step while it counts down, else dt.
double explicit_memory_next_call(model_state& ms, double dt);

// The sub-step that a routed step cuts no further (s) and the cuts allowed in one step.
constexpr double explicit_smallest_substep = 0.005;
constexpr int explicit_most_reductions = 5;

// What the explicit scheme does with a sub-step of tau seconds some of whose faces failed.
enum class explicit_cut {
  redo,    // the sub-step is now a third, remembered for the next calls: redo the step
  go_on,   // no cut is left, and only the cap held faces back: the capped step is safe
  cannot,  // no cut is left and faces fail the sub-step test: the step is too long to route
};

// Cuts the sub-step of a step whose faces failed: while the sub-step is above the smallest and
// cuts remain, tau becomes a third (with its message) and the step is redone; after that, faces
// the cap alone held back let the step go on, while faces failing the sub-step test
// (`test_failures`) mean the step cannot be routed.
explicit_cut explicit_cut_substep(model_state& ms, double& tau, int& reductions,
                                  bool test_failures);

// What becomes of a sub-step once its faces have been computed.
enum class explicit_substep {
  accepted,  // every face passed, or the cap alone held some back and no cut is left
  redo,      // the sub-step was cut: the step is redone from its start
  stopped,   // a face fails at the shortest sub-step: the run is stopped
};

// Takes the two face directions in sweep order (`order`, 0 the right faces, 1 the lower ones)
// with the counts of the face pass (`fails`: [d] faces failing the sub-step test, [2 + d] faces
// the cap held back) and decides the sub-step as explicit_cut_substep says. print_failing(d) is
// called for a direction with failing faces before it is cut, and name_fault(d) once the step
// cannot be routed, to stop the run naming the first failing face of direction d.
// `capped_accepted` is set once the cap alone held faces back with no cut left: from then on, for
// the rest of the step, such faces are accepted (the capped step makes no water).
template <class PrintFailing, class NameFault>
explicit_substep explicit_judge_substep(model_state& ms, const int order[2], const int fails[4],
                                        double& tau, int& reductions, bool& capped_accepted,
                                        PrintFailing print_failing, NameFault name_fault) {
  for (int k = 0; k < 2; ++k) {
    const int d = order[k];
    const bool test_failures = fails[d] != 0;
    if (!test_failures && (fails[2 + d] == 0 || capped_accepted)) continue;
    if (test_failures) print_failing(d);
    const explicit_cut cut = explicit_cut_substep(ms, tau, reductions, test_failures);
    if (cut == explicit_cut::redo) return explicit_substep::redo;
    if (cut == explicit_cut::go_on) {
      capped_accepted = true;
      continue;
    }
    name_fault(d);
    return explicit_substep::stopped;
  }
  return explicit_substep::accepted;
}

// Stops the run on a step the explicit scheme cannot route: names the time, the failing face of
// cell c towards cell k (direction "right" or "lower"), the water it moves in a sub-step of tau
// seconds (moved, m) and the depth of the cell the test judges (judged, held, m), and asks for a
// shorter TIMESTEP (dt the overland step, s).
void explicit_step_too_long(model_state& ms, double dt, double tau, int c, int k,
                            const char* direction, double moved, int judged, double held);
