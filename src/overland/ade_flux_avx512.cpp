// The 8-wide vector face sweep of the ADE scheme on grids without lakes or wetlands (the sweeps
// pick it when the processor has 512-bit vectors): eight cells at a time, the cells past the
// range masked off, so every cell takes the same arithmetic wherever it falls and the result
// does not depend on how the cells are shared among threads. The arithmetic is the scalar
// sweep's, in the same order (the face law's slope term and the hold to the surface share
// included), except the depth power d^(2/3), which comes from the core's 8-wide
// depth power (within about half an ulp, as the scalar pow); the chunk's discharges are those of
// the row kernels of the sub-steps (ade_flux_wide.h). This file alone is compiled for 512-bit
// vectors.
#include <immintrin.h>

#include "overland/ade_flux.h"
#include "overland/ade_flux_wide.h"

int ade_plain_sweep_wide(const ade_grid_view& g, const int* next, const unsigned char* open,
                         const double* h, double* q, int lo, int hi) {
  int cut = 0;
  for (int c = lo; c <= hi; c += 8) {
    const int count = hi - c + 1;
    const __mmask8 m = ade_wide::first_lanes(count);
    const __m512d h_c = _mm512_maskz_loadu_pd(m, h + c);
    _mm512_mask_storeu_pd(q + c, m,
                          ade_wide::chunk_discharges(g, next, open, h, h_c, c, count, m, cut));
  }
  return cut;
}
