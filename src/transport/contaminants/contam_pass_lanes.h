// The cell kernels of one directional pass of the overland constituent transport, on the
// arrays of ov_constit_view over a range of cells lo..hi: the face fluxes of the pass from a set
// of concentrations, the corrector's faces from the predictor's, and the cells' masses and
// concentrations after the pass from a set of fluxes.
// Each comes as an 8-wide vector kernel (Highway, the best instruction set the processor runs)
// and as a scalar one with the same arithmetic in the same order, so every instruction set, the
// scalar kernel and any sharing of the cells among threads give the same bits. The transport
// passes call the vector kernels; the scalar ones are their reference.
#pragma once

#include "transport/contaminants/contam_kernels.h"

// The neighbours and the discharges of one directional pass: the upstream neighbour (above or
// left, 0 for none), the downstream one (below or right) and each cell's discharge towards its
// downstream neighbour (m3/s).
struct ov_pass_arrays {
  const int* up = nullptr;
  const int* down = nullptr;
  const double* q = nullptr;
};

// Flux (g/s) into each cell i of lo..hi across its face with its upstream neighbour j: the
// dispersion min(h_i D_i, h_j D_j) (c_j - c_i) when both cells hold water (above 1e-16 m), plus
// the advection q_j times the upwind concentration; 0 without a neighbour. Without `mean_with`
// the flux goes to face[i]; with it, face[i] = 0.5 (mean_with[i] + flux).
void ov_pass_faces_scalar(const ov_constit_view& v, const ov_pass_arrays& p, const double* c,
                          const double* mean_with, double* face, int lo, int hi);
void ov_pass_faces_wide(const ov_constit_view& v, const ov_pass_arrays& p, const double* c,
                        const double* mean_with, double* face, int lo, int hi);

// Each cell i of lo..hi after the pass: m = v.mass[i] + dt (face[i] - face[down] + source[i] / 2)
// (no outflow without a downstream neighbour) into mass[i], and its concentration into conc[i]:
// the held concentration of a cell under a lake, else m over its water, 0 for a dry cell
// (below 1e-16 m) or a negative mass. `mass` may be v.mass itself, or null for the predictor,
// which needs only the concentrations. Returns whether any cell's m came out negative, so that a
// caller emptying such cells looks at the range only when there is one.
bool ov_pass_update_scalar(const ov_constit_view& v, const ov_pass_arrays& p, const double* face,
                           double* mass, double* conc, int lo, int hi);
bool ov_pass_update_wide(const ov_constit_view& v, const ov_pass_arrays& p, const double* face,
                         double* mass, double* conc, int lo, int hi);
