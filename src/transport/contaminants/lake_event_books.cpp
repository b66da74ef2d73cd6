// The channel lakes' constituent books over one event: the event set-up takes the lakes' stocks
// and run totals (lake_contam_event_snapshot); the event summary forms the event's terms as
// their change since then (lake_contam_event).
#include "transport/contaminants/lake_event_books.h"

#include <algorithm>

#include "framework/model_state.h"
#include "transport/transport_steps.h"

namespace {

// The values taken per constituent, one column each.
enum term {
  t_stock = 1,  // dissolved in the lakes, with the overland hand-over waiting
  t_precip,     // run totals from here on
  t_from_chan,
  t_nodes,
  t_ov,  // with the overland hand-over waiting
  t_bed_in,
  t_bed_out,
  t_restored,
  t_to_chan,
  t_out,
  t_pump,
  t_decay,
  t_released,
  t_bound_stock,  // bound to the lakes' wash load
  t_bound_from_ov,
  t_settled,
};
static_assert(t_settled == lake_event_term_count);

double at(const raw_array1d<double>& a, int c) {
  return has(a, c) ? a[c] : 0.0;
}

// The lakes' sediment-bound books exist for constituent c.
bool bound_books(const transport_state& tr, int c) {
  const sed_contam_tables& sc = tr.sed_contam;
  return sc.ready && c <= sc.outlet.count() && sc.chan_ready && c <= sc.chan_bound.plane_count() &&
         c <= sc.to_lakes.count();
}

// The current value of every term of constituent c (kg) into v[1..lake_event_term_count].
void current_terms(const model_state& ms, int c, double* v) {
  const transport_state& tr = ms.transport;
  const chan_contam_tables& cc = tr.chan_contam;
  std::fill(v, v + lake_event_term_count + 1, 0.0);
  double waiting = 0.0, stock = 0.0;
  for (int lake = 1; lake <= cc.lakes; ++lake) {
    waiting += cc.lake_ov_inflow_mass[c][lake];
    stock += tr.lake_mass[c][lake];
  }
  v[t_stock] = stock / 1000.0 + waiting / 1000.0;
  v[t_precip] = at(cc.lake_precip_total, c);
  v[t_from_chan] = at(cc.lake_from_chan, c);
  v[t_nodes] = at(cc.lake_nodes_total, c);
  v[t_ov] = at(cc.lake_ov_total, c) + waiting / 1000.0;
  v[t_bed_in] = at(cc.lake_bed_in_total, c);
  v[t_bed_out] = at(cc.lake_bed_out_total, c);
  v[t_restored] = at(cc.lake_restored, c);
  v[t_to_chan] = at(cc.lake_to_chan, c);
  v[t_out] = at(cc.lake_out_total, c);
  v[t_pump] = at(cc.lake_pump_total, c);
  v[t_decay] = at(cc.lake_decay_total, c);
  if (!bound_books(tr, c)) return;
  const sed_contam_tables& sc = tr.sed_contam;
  double bound = 0.0;
  for (int lake = 1; lake <= cc.lakes; ++lake)
    for (int i = 1; i <= sc.fine; ++i) bound += sc.chan_bound[c][tr.lake_row0 + lake][i];
  v[t_released] = at(sc.lake_released, c) / 1000.0;
  v[t_bound_stock] = bound / 1000.0;
  v[t_bound_from_ov] = at(sc.to_lakes, c) / 1000.0;
  v[t_settled] = at(sc.lake_settled, c) / 1000.0;
}

bool lakes_carry(const model_state& ms) {
  const chan_contam_tables& cc = ms.transport.chan_contam;
  return cc.ready && cc.lakes >= 1 && !cc.lake_event_start.empty();
}

}  // namespace

void lake_contam_event_snapshot(model_state& ms) {
  if (!lakes_carry(ms)) return;
  chan_contam_tables& cc = ms.transport.chan_contam;
  const int nc = std::min(ms.transport.num_contaminants, cc.lake_event_start.row_count());
  for (int c = 1; c <= nc; ++c) current_terms(ms, c, cc.lake_event_start[c]);
}

lake_event_books lake_contam_event(const model_state& ms, int c) {
  lake_event_books b;
  if (!lakes_carry(ms) || c < 1 || c > ms.transport.chan_contam.lake_event_start.row_count())
    return b;
  const double* start = ms.transport.chan_contam.lake_event_start[c];
  double now[lake_event_term_count + 1];
  current_terms(ms, c, now);
  auto since = [&](int t) { return now[t] - start[t]; };
  b.init = start[t_stock];
  b.final_mass = now[t_stock];
  b.precip = since(t_precip);
  b.from_chan = since(t_from_chan);
  b.nodes = since(t_nodes);
  b.ov = since(t_ov);
  const double bed_in = since(t_bed_in), bed_out = since(t_bed_out);
  b.bed = bed_in - bed_out;
  b.restored = since(t_restored);
  b.released = since(t_released);
  b.outflow = since(t_to_chan) + since(t_out);
  b.pump = since(t_pump);
  b.decay = since(t_decay);
  const double in = b.init + b.precip + b.from_chan + b.nodes + b.ov + bed_in + b.restored +
                    std::max(b.released, 0.0);
  const double out =
      b.final_mass + b.outflow + b.pump + b.decay + bed_out + std::max(-b.released, 0.0);
  b.error = in > 0.0 ? (in - out) / in * 100.0 : 0.0;
  b.bound = bound_books(ms.transport, c);
  b.bound_init = start[t_bound_stock];
  b.bound_final = now[t_bound_stock];
  b.bound_from_ov = since(t_bound_from_ov);
  b.settled = since(t_settled);
  return b;
}
