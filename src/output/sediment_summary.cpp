// The overland sediment summary of the event runoff summary and of the end-of-run summary: the
// books of every size class, gathered from the cells' sediment volumes.
#include "output/sediment_summary.h"

#include "framework/model_state.h"

double sediment_class_books::error_percent() const {
  if (!(eroded > 1e-16)) return 0.0;
  return (eroded - (deposited + suspended + out)) / eroded * 100.0;
}

sediment_class_books overland_sediment_books(const model_state& ms, int k) {
  sediment_class_books b;
  const ov_sediment_obj* sed = ms.transport.ov_sed.get();
  if (sed == nullptr || sed->vol_sed.empty() || k < 1 || k > sed->vol_sed.row_count()) return b;
  const int cells =
      ms.cell_count < sed->vol_sed.plane_count() ? ms.cell_count : sed->vol_sed.plane_count();
  for (int c = 1; c <= cells; ++c) {
    const double* v = sed->vol_sed[c][k];
    b.eroded -= v[1];
    b.suspended += v[2];
    b.deposited += v[3];
    b.out += v[4];
  }
  return b;
}

void write_overland_sediment_summary(FILE* fp, const model_state& ms, bool event) {
  const transport_state& tr = ms.transport;
  if (fp == nullptr || !tr.sediment.soil_erosion || tr.ov_sed == nullptr) return;
  fprintf(fp, "Overland Sediment Summary\n");
  if (event) fprintf(fp, "Quantities are running totals for simulation - NOT EVENT \n");
  for (int k = 1; k <= tr.sediment.num_sed_classes; ++k) {
    const sediment_class_books b = overland_sediment_books(ms, k);
    const long s = k;
    fprintf(fp, "Total sediment %ld eroded from surface:        %16.8lf m3\n", s, b.eroded);
    fprintf(fp, "Total sediment %ld deposited on surface:       %16.8lf m3\n", s, b.deposited);
    fprintf(fp, "Total sediment %ld remaining in suspension:    %16.8lf m3\n", s, b.suspended);
    fprintf(fp, "Total sediment %ld routed through outlet       %16.8lf m3\n", s, b.out);
    if (event)
      fprintf(fp, "Mass balance error for sediment %ld %10.4lf percent \n", s, b.error_percent());
    else
      fprintf(fp, "Mass balance error for sediment %ld %10.4lf \n", s, b.error_percent());
    fprintf(fp, "\n");
  }
  fprintf(fp, "\n");
}
