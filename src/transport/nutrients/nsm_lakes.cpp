// The nutrient sub-model in the channel lakes: the lake medium's water chemistry and result
// arrays (made by the nutrient output set-up or the channel constituent set-up, whichever comes
// first), and, for the channel outputs and the summary, each lake's species, un-ionised ammonia
// and nitrogen and phosphorus totals. The species themselves are rows of the lake constituent
// tables and move with the lake constituent routing; each lake is one fully mixed store.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "transport/nutrients/nsm_kernels.h"
#include "transport/transport_steps.h"

void nsm_lakes_alloc(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  const channel_state& ch = ms.channel;
  if (nsm == nullptr || !tr.chan_con_trans || !ms.perennial_lakes || ch.num_lakes < 1) return;
  nsm_lakes& lk = nsm->lakes;
  if (!lk.nh3.empty()) return;  // made already
  if (!ms.super_quiet) printf("Allocating memory for NSM Lakes...");
  lk.lake_count = ch.num_lakes;
  lk.first_constituent = nsm->overland.first_constituent;
  lk.water_temp = ms.cards.water_temp;
  lk.ka = nsm_ammonia_ka(lk.water_temp);
  lk.ph = ms.cards.chan_ph;
  lk.h_ion = std::pow(10.0, -lk.ph);
  bool made = lk.mass.allocate(nsm_species_count, lk.lake_count) &&
              lk.conc.allocate(nsm_species_count, lk.lake_count);
  for (raw_array1d<double>* a : {&lk.nh3, &lk.total_n, &lk.total_kn, &lk.total_p})
    made = made && a->allocate(lk.lake_count);
  if (!made) {
    raw_report_alloc_failure("NSM Lakes");
    return stop_now();
  }
  if (!ms.super_quiet) printf("Done\n");
}

void nsm_lakes_results(model_state& ms) {
  transport_state& tr = ms.transport;
  nsm_model* nsm = tr.nsm.get();
  if (nsm == nullptr || nsm->lakes.nh3.empty() || tr.lake_mass.empty() ||
      tr.chan_contam.lake_conc.empty())
    return;
  const channel_state& ch = ms.channel;
  nsm_lakes& lk = nsm->lakes;
  const int n = std::min(lk.lake_count, ch.num_lakes);
  for (int k = 1; k <= nsm_species_count; ++k) {
    const int c = lk.first_constituent + k - 1;
    for (int lake = 1; lake <= n; ++lake) {
      lk.mass[k][lake] = tr.lake_mass[c][lake];
      lk.conc[k][lake] = tr.chan_contam.lake_conc[c][lake];
    }
  }
  for (int lake = 1; lake <= n; ++lake) {
    const double v = std::max(ch.lake_volume[lake], 0.0);
    lk.nh3[lake] =
        nsm_nh3_mass(lk.mass[nsm_nh4][lake], v, lk.ka, lk.h_ion, nsm_min_nh4_molar_overland);
  }
  nsm_species_masses m;
  m.no2 = lk.mass[nsm_no2];
  m.no3 = lk.mass[nsm_no3];
  m.nh4 = lk.mass[nsm_nh4];
  m.on = lk.mass[nsm_on];
  m.op = lk.mass[nsm_op];
  m.dp = lk.mass[nsm_dp];
  m.nh3 = lk.nh3.data();
  const std::size_t size = static_cast<std::size_t>(n) + 1;
  nsm_totals(m, n, {lk.total_n.data(), size}, {lk.total_kn.data(), size},
             {lk.total_p.data(), size});
}
