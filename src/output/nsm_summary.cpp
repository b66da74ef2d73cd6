// The nutrient section of the end-of-run summary: the overland books of every nutrient species
// (with what the soil pools released into the water), then the nitrogen and phosphorus books of
// the whole system, water and soil pools, with their balance errors.
#include "output/nsm_summary.h"

#include "framework/model_state.h"
#include "transport/transport_steps.h"

namespace {

double total_at(const guarded_array<double>& a, int k) {
  return k >= 1 && k <= a.upper() ? a[k] : 0.0;
}

void element_block(FILE* fp, const char* element, const nsm_element_books& b) {
  fprintf(fp, "\n \n");
  fprintf(fp, "Nutrient %s books (water and soil pools) in (Kg) \n \n", element);
  const struct {
    const char* label;
    double value;
  } lines[] = {{"Initial mass in water", b.water_init},
               {"Initial mass in soil pools", b.soil_init},
               {"Precipitation mass gain", b.rain},
               {"Mass restored to emptied cells", b.restored},
               {"Outlet mass flux", b.out},
               {"Final mass in water", b.water_final},
               {"Final mass in soil", b.soil_final}};
  for (const auto& l : lines) fprintf(fp, "%-31s %22.12lf \n", l.label, l.value);
  fprintf(fp, "Nutrient %s balance error %16.10lf percent \n", element, b.error_percent);
}

}  // namespace

void write_nsm_run_summary(FILE* fp, const model_state& ms) {
  const transport_state& tr = ms.transport;
  const nsm_model* nsm = tr.nsm.get();
  if (fp == nullptr || !tr.nutrients || nsm == nullptr || nsm->overland.first_constituent < 1)
    return;
  const contam_tables& ct = tr.contam;
  const bool soil = tr.soil_con_trans != 0;
  fprintf(fp, "\n\n *************   Nutrient Transport Summaries   **************** \n\n");
  for (int k = 1; k <= nsm_species_count; ++k) {
    const int c = nsm->overland.first_constituent + k - 1;
    double final_mass = 0.0;
    for (int cell = 1; cell <= ms.cell_count; ++cell) final_mass += tr.ov_contam_mass[c][cell];
    final_mass /= 1000.0;
    const double init = total_at(tr.OV_MASS_INIT, c);
    const double rain = total_at(tr.OV_PRECIP_MASS, c);
    const double uptake = total_at(tr.OV_UPTAKE_MASS, c);
    const double infil = total_at(tr.OV_INFIL_MASS, c);
    const double outlet = total_at(tr.OV_MASS_OUT, c);
    const double land = total_at(tr.OV_LAND_MASS, c);
    const double restored = has(ct.neg_mass_total, c) ? ct.neg_mass_total[c] : 0.0;
    const double in = init + rain + uptake + restored;
    const double out = final_mass + infil + outlet + land;
    const double error = in > 1e-16 ? (in - out) / in * 100.0 : 0.0;
    fprintf(fp, "\n\n");
    const std::size_t at = static_cast<std::size_t>(c);
    fprintf(fp, "Overland Constituent Transport Summary for %s \n",
            at < tr.contamdescriptions.size() ? tr.contamdescriptions[at].c_str() : "");
    fprintf(fp, "Amounts are total for simulations in (Kg) \n \n");
    fprintf(fp, "Initial Dissolved mass on ov  %14.2lf \n", init);
    fprintf(fp, "Final Dissolved mass on ov    %14.2lf \n", final_mass);
    fprintf(fp, "\n");
    fprintf(fp, "Point source mass gain        %14.2lf \n", 0.0);
    fprintf(fp, "Precipitation mass gain       %14.2lf \n", rain);
    fprintf(fp, "Uptake from soil              %14.2lf \n", uptake);
    fprintf(fp, "\n");
    fprintf(fp, "Mass loss to infiltration     %14.2lf \n", infil);
    fprintf(fp, "Outlet mass flux              %14.2lf \n", outlet);
    fprintf(fp, "Mass gained from NSM kinetics   %14.4lf \n", 0.0);
    fprintf(fp, "Mass lost to NSM kinetics       %14.4lf \n", 0.0);
    if (!soil) fprintf(fp, "Mass left on land by drying   %14.2lf \n", land);
    fprintf(fp, "Mass restored to emptied cells %13.2lf \n", restored);
    fprintf(fp, "\n");
    fprintf(fp, "Contam mass balance error       %14.4lf percent \n", error);
  }
  element_block(fp, "nitrogen", nsm_nitrogen_books(ms));
  element_block(fp, "phosphorus", nsm_phosphorus_books(ms));
}
