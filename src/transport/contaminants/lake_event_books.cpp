// The channel and overland lakes' constituent books over one event: the event set-up takes the
// lakes' stocks and run totals (lake_contam_event_snapshot); the event summary forms the event's
// terms as their change since then (lake_contam_event, olake_contam_event).
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
  t_bound_from_chan,  // brought by the channels' wash load (net of what the outlets gave back)
};
static_assert(t_bound_from_chan == lake_event_term_count);

// The overland lakes' values, one column each.
enum olake_term {
  o_stock = 1,  // dissolved in the lakes, with the overland hand-over waiting
  o_precip,     // run totals from here on
  o_ov,         // with the overland hand-over waiting
  o_spill,
  o_decay,
  o_restored,
  o_released,
  o_bound_stock,  // bound to the lakes' suspended sediment
  o_bound_from_ov,
  o_settled,
};
static_assert(o_settled == olake_event_term_count);

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
  v[t_bound_from_chan] = at(sc.chan_to_lakes, c) / 1000.0;
}

// The overland lakes' sediment-bound books exist for constituent c.
bool olake_bound_books(const transport_state& tr, int c) {
  const sed_contam_tables& sc = tr.sed_contam;
  return sc.ready && c <= sc.olake_bound.plane_count() && c <= sc.to_olakes.count();
}

// The current value of every overland lake term of constituent c (kg) into
// v[1..olake_event_term_count].
void current_olake_terms(const model_state& ms, int c, double* v) {
  const transport_state& tr = ms.transport;
  const olake_contam_tables& oc = tr.olake_contam;
  std::fill(v, v + olake_event_term_count + 1, 0.0);
  double waiting = 0.0, stock = 0.0;
  for (int lake = 1; lake <= oc.lakes; ++lake) {
    waiting += oc.pending[c][lake];
    stock += oc.mass[c][lake];
  }
  v[o_stock] = (stock + waiting) / 1000.0;
  v[o_precip] = at(oc.precip_total, c);
  v[o_ov] = at(oc.from_ov_total, c) + waiting / 1000.0;
  v[o_spill] = at(oc.spill_total, c);
  v[o_decay] = at(oc.decay_total, c);
  v[o_restored] = at(oc.restored, c);
  if (!olake_bound_books(tr, c)) return;
  const sed_contam_tables& sc = tr.sed_contam;
  double bound = 0.0;
  for (int lake = 1; lake <= sc.olake_bound.row_count(); ++lake)
    for (int k = 1; k <= sc.classes; ++k) bound += sc.olake_bound[c][lake][k];
  v[o_released] = at(sc.olake_released, c) / 1000.0;
  v[o_bound_stock] = bound / 1000.0;
  v[o_bound_from_ov] = at(sc.to_olakes, c) / 1000.0;
  v[o_settled] = at(sc.olake_settled, c) / 1000.0;
}

bool olakes_carry(const model_state& ms) {
  const olake_contam_tables& oc = ms.transport.olake_contam;
  return oc.lakes >= 1 && !oc.event_start.empty();
}

bool lakes_carry(const model_state& ms) {
  const chan_contam_tables& cc = ms.transport.chan_contam;
  return cc.ready && cc.lakes >= 1 && !cc.lake_event_start.empty();
}

}  // namespace

void lake_contam_event_snapshot(model_state& ms) {
  if (olakes_carry(ms)) {
    olake_contam_tables& oc = ms.transport.olake_contam;
    const int nc = std::min(ms.transport.num_contaminants, oc.event_start.row_count());
    for (int c = 1; c <= nc; ++c) current_olake_terms(ms, c, oc.event_start[c]);
  }
  if (!lakes_carry(ms)) return;
  chan_contam_tables& cc = ms.transport.chan_contam;
  const int nc = std::min(ms.transport.num_contaminants, cc.lake_event_start.row_count());
  for (int c = 1; c <= nc; ++c) current_terms(ms, c, cc.lake_event_start[c]);
}

olake_event_books olake_contam_event(const model_state& ms, int c) {
  olake_event_books b;
  if (!olakes_carry(ms) || c < 1 || c > ms.transport.olake_contam.event_start.row_count()) return b;
  const double* start = ms.transport.olake_contam.event_start[c];
  double now[olake_event_term_count + 1];
  current_olake_terms(ms, c, now);
  auto since = [&](int t) { return now[t] - start[t]; };
  b.init = start[o_stock];
  b.final_mass = now[o_stock];
  b.precip = since(o_precip);
  b.ov = since(o_ov);
  b.spill = since(o_spill);
  b.decay = since(o_decay);
  b.restored = since(o_restored);
  b.released = since(o_released);
  const double in = b.init + b.precip + b.ov + b.restored + std::max(b.released, 0.0);
  const double out = b.final_mass + b.spill + b.decay + std::max(-b.released, 0.0);
  b.error = in > 0.0 ? (in - out) / in * 100.0 : 0.0;
  b.bound = olake_bound_books(ms.transport, c);
  b.bound_init = start[o_bound_stock];
  b.bound_final = now[o_bound_stock];
  b.bound_from_ov = since(o_bound_from_ov);
  b.settled = since(o_settled);
  return b;
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
  b.bound_from_chan = since(t_bound_from_chan);
  return b;
}
