// Explicit channel routing (ex_flow_route): Courant-limited sub-steps over the whole channel
// network, each a predictor pass and a corrector pass of link-end flows and node volume balances,
// a sub-step halved and retried whenever a node would hold a negative area. Called once per
// channel step by the channel step, after the lateral exchange. On a large network the start of
// a sub-step and each pass are one parallel region each, the nodes shared among the threads and
// what joins the links (junctions, structures, the outlet) done on one thread inside it.
#include "channel/channel_routing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "channel/chan_point_sources.h"
#include "channel/channel_gw_exchange.h"
#include "channel/channel_lakes.h"
#include "channel/channel_steps.h"
#include "channel/link_flows.h"
#include "channel/node_ranges.h"
#include "channel/routing_kernels.h"
#include "channel/sections.h"
#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "input/input_steps.h"

namespace {

// Gives the routing's work arrays the node ranges of the run's flow areas, once per run (and
// again when the network's shape has changed). False when the memory cannot be had.
bool routing_arrays_ready(channel_state& ch) {
  const int links = ch.chan_link_count;
  auto fits = [&](const link_node_array<double>& a) {
    if (a.link_count() != links) return false;
    for (int link = 1; link <= links; ++link)
      if (a.node_count(link) != ch.area.node_count(link)) return false;
    return true;
  };
  link_node_array<double>* work[] = {&ch.area_old,       &ch.area_iter, &ch.qp_old,     &ch.qp_last,
                                     &ch.node_stiffness, &ch.qp_iter,   &ch.node_source};
  const char* names[] = {"area_old",       "area_iter", "qp_old",     "qp_last",
                         "node_stiffness", "qp_iter",   "node_source"};
  int counts_size = links + 1;
  int* counts = nullptr;
  for (int i = 0; i < 7; ++i) {
    if (fits(*work[i])) continue;
    if (counts == nullptr) {
      counts = new int[counts_size]();
      for (int link = 1; link <= links; ++link) counts[link] = ch.area.node_count(link);
    }
    if (!work[i]->allocate(links, counts)) {
      printf("Error allocating memory for variable %s\n", names[i]);
      delete[] counts;
      return false;
    }
  }
  delete[] counts;
  return true;
}

// The routed links.
bool routed(const channel_state& ch, int link) {
  return link_is_routed(ch.ltype[link]);
}

// The last node of a link that drains through a structure.
bool drains_into_structure(const channel_state& ch, int link) {
  const int down = ch.dslink[link];
  return down >= 1 && down <= ch.chan_link_count && link_is_structure(ch.ltype[down]);
}

// The largest Courant number of the routed links' nodes for a sub-step h, one node after the
// other, or -1 after a node whose area is not a number or whose depth is negative (its message
// printed). The last node of a link that drains through a structure does not count: its outflow
// is the structure's, held to the water at hand and bounded by the structure's stiffness, and
// once that cut acts the node passes its whole water in every sub-step, a Courant number of 1
// whatever the sub-step.
double courant_number_serial(channel_state& ch, double h) {
  double cmax = 0.0;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if (!routed(ch, link)) continue;
    const bool into_structure = drains_into_structure(ch, link);
    const double dx = ch.dx[link];
    double* a = ch.area.link_nodes(link);
    double* yp = ch.yp.link_nodes(link);
    const double* bel = ch.bel.link_nodes(link);
    const double* q = ch.qp.link_nodes(link);
    for (int j = 1; j <= ch.nx[link]; ++j) {
      if (std::isnan(a[j])) {
        printf("In ex_flow_route 1:  cross-sectional area is not a number at link %d node %d\n",
               link, j);
        a[j] = 0.0;
        yp[j] = bel[j];
        return -1.0;
      }
      if (yp[j] - bel[j] < 0.0) {
        printf("in ex_flow_route 2, negative depth at link %d node %d\n", link, j);
        printf("program stopped.\n");
        return -1.0;
      }
      if (into_structure && j == ch.nx[link]) continue;
      const double c = a[j] > 1e-16 ? (h / dx) * (q[j] / a[j]) : 0.0;
      cmax = std::max(cmax, c);
    }
  }
  return cmax;
}

// The sections are computed where the network has them.
bool has_sections(const channel_state& ch) {
  return !(ch.area.empty() || ch.conv.empty() || ch.topw.empty() || ch.dconv.empty());
}

bool sectioned(const channel_state& ch, int link) {
  return (ch.ltype[link] & (4 | 8 | 16)) != 0;
}

// What every thread of the routing's parallel regions shares: the node counts of the link sets
// the loops visit, and what a region found (the largest and smallest figures of its nodes and
// its faults), combined by max, min and or, which give the same result whatever the sharing.
struct substep_work {
  long routed_total = 0;     // nodes of the routed links
  long other_sections = 0;   // nodes of sectioned links that are not routed
  bool sections = false;     // the network's sections are computed
  bool sources = false;      // nodes keep their source volumes
  bool serial_ends = false;  // structures or a held outlet: the link ends wait on one thread
  double cmax = 0.0;         // largest Courant number
  double stable = 0.0;       // longest sub-step the stiffness allows (s)
  double change = 0.0;       // largest change of an area from its predicted value
  int faults = 0;            // a node whose area or depth cannot be routed
  int dry = 0;               // a node holds an area below -1e-8
  int section_faults = 0;    // a node whose area gives no section
  int exceeded = 0;          // a node above its depth table
  int outlet_fault = 0;      // the outlet's bed slopes upwards
};

// What the corrector pass does after its volume balance, the same on every thread: take the
// next pass's geometry, accept the sub-step (negative areas set to 0 first) or, when a node runs
// dry, put back the start of the sub-step.
enum class after_corrector { next_pass, accept, restore };

// Calls visit(link, first, last) for the calling thread's share of the nodes of the links for
// which `chosen` holds.
template <class Chosen, class Visit>
void own_nodes(const channel_state& ch, long total, Chosen chosen, Visit visit) {
  if (total > 0) visit_own_nodes(ch, total, chosen, visit);
}

// Runs a pass's region body `region(exceeded, section_faults)` on the routing's team (on the
// calling thread alone for a team of one), what the threads found or-ed together, then books a
// node above its depth table on the network and a node without a section on the work.
template <class Region>
void run_section_region(channel_state& ch, substep_work& w, const Region& region) {
  int exceeded = 0;
  int section_faults = 0;
  const int team = routing_team(w.routed_total);
  if (team_runs_inline(team)) {
    region(exceeded, section_faults);
  } else {
#pragma omp parallel num_threads(team) reduction(| : exceeded, section_faults)
    region(exceeded, section_faults);
  }
  if (exceeded) ch.xsec_table_exceeded = 1;
  w.section_faults = section_faults;
}

// The nodes first..last of a sectioned link from their flow areas; after a node whose area gives
// no section (`faults` set) the calling thread computes no more sections.
void section_nodes(channel_state& ch, const depth_tables_view& tables, int link, int first,
                   int last, int& exceeded, int& faults) {
  if (faults != 0 || !sectioned(ch, link)) return;
  if (!sections_from_area(link_sections_of(ch, link), tables, first, last, exceeded)) faults = 1;
}

// Nodes handled together by one thread in the fused loops: the volume balance, the section and
// the copies of a piece stay in the processor's cache.
constexpr int piece_nodes = 512;

// The sub-step's first region: the Courant number and the stiffness bound of the nodes from the
// present geometry, and the start-of-sub-step copies of areas and discharges (on the first pass
// of the run also into the pass arrays). The links' end nodes, which junctions and structures
// join, take their stiffness on one thread while the others share the rest of the nodes.
void substep_start(channel_state& ch, substep_work& w, double h, bool first_pass) {
  double cmax = 0.0;
  double stable = std::numeric_limits<double>::infinity();
  int faults = 0;
  auto is_routed = [&](int link) { return routed(ch, link); };
  // The region's body, each thread's reduction variables passed in.
  auto region = [&](double& cmax, double& stable, int& faults) {
#pragma omp single nowait
    stable = ex_end_node_stiffness(ch, ch.node_stiffness);
    own_nodes(ch, w.routed_total, is_routed, [&](int link, int first, int last) {
      const int n = ch.nx[link];
      const int counted = drains_into_structure(ch, link) ? n - 1 : n;
      const double* a = ch.area.link_nodes(link);
      const double* q = ch.qp.link_nodes(link);
      cmax = std::max(cmax, courant_max(a, ch.yp.link_nodes(link), ch.bel.link_nodes(link), q,
                                        ch.dx[link], h, first, last, counted, faults));
      const link_levels_view levels{ch.bel.link_nodes(link), ch.chan_depth.link_nodes(link),
                                    ch.conv.link_nodes(link), ch.dx[link], n};
      double* r = ch.node_stiffness.link_nodes(link);
      interior_stiffness(levels, first, last, r);
      const int inner_first = std::max(first, 2);
      const int inner_last = std::min(last, n - 1);
      if (inner_first <= inner_last)
        stable = std::min(
            stable, ex_link_stiffness_limit(ch, ch.node_stiffness, link, inner_first, inner_last));
      std::copy(a + first, a + last + 1, ch.area_old.link_nodes(link) + first);
      std::copy(q + first, q + last + 1, ch.qp_old.link_nodes(link) + first);
      if (first_pass) {
        std::copy(q + first, q + last + 1, ch.qp_last.link_nodes(link) + first);
        std::copy(q + first, q + last + 1, ch.qp_iter.link_nodes(link) + first);
      }
    });
  };
  const int team = routing_team(w.routed_total);
  if (team_runs_inline(team)) {
    region(cmax, stable, faults);
  } else {
#pragma omp parallel num_threads(team) reduction(max                                     \
                                                 : cmax) reduction(min                   \
                                                                   : stable) reduction(| \
                                                                                       : faults)
    region(cmax, stable, faults);
  }
  w.cmax = cmax;
  w.stable = stable;
  w.faults = faults;
}

// The outlet's flow on the bed slope by the thread whose share of the last link ends at the
// outlet node (the nodes first..last of `link`), where nothing else waits on one thread before
// the volume balance: 0, or -1 when the outlet's bed slopes upwards.
int outlet_flow_of_share(const channel_state& ch, link_node_array<double>& q, int link, int last) {
  if (link != ch.chan_link_count || last != ch.nx[link]) return 0;
  return ex_outlet_flow(ch, q);
}

// The predictor pass's region, after the structures' flows: flows from the present geometry into
// qp_last, the outlet and the structures' cut to the water at hand on one thread, then node by
// node the volume balance from the start of the sub-step into area (negative areas set to 0),
// the section from it and its copy into area_iter.
void predictor_pass(channel_state& ch, substep_work& w, double time, double h,
                    loop_fault& series_fault) {
  const depth_tables_view tables = depth_tables_of(ch);
  int outlet_fault = 0;
  auto is_routed = [&](int link) { return routed(ch, link); };
  auto other = [&](int link) { return sectioned(ch, link) && !routed(ch, link); };
  // The region's body, each thread's reduction variables passed in.
  auto region = [&](int& exceeded, int& section_faults) {
    own_nodes(ch, w.routed_total, is_routed, [&](int link, int first, int last) {
      ex_ordinary_link_flows(ch, ch.qp_last, link, first, last);
      if (!w.serial_ends && outlet_flow_of_share(ch, ch.qp_last, link, last) != 0) outlet_fault = 1;
    });
#pragma omp barrier
    // With structures or a held outlet, the outlet and the structures' cut to the water at hand
    // on one thread.
    if (w.serial_ends) {
#pragma omp single
      {
        outlet_fault = ex_outlet_flow(ch, ch.qp_last) != 0 ? 1 : 0;
        if (outlet_fault == 0)
          ex_limit_structure_flows(ch, ch.qp_last, ch.area_old, time, h, &series_fault);
      }
    }
    if (outlet_fault == 0) {
      own_nodes(ch, w.routed_total, is_routed, [&](int link, int first, int last) {
        for (int lo = first; lo <= last; lo += piece_nodes) {
          const int hi = std::min(last, lo + piece_nodes - 1);
          ex_link_volumes(ch, ch.qp_last, ch.area_old, ch.area, link, lo, hi, h);
          double* a = ch.area.link_nodes(link);
          for (int j = lo; j <= hi; ++j)
            if (a[j] < 0.0) a[j] = 0.0;
          if (w.sections) section_nodes(ch, tables, link, lo, hi, exceeded, section_faults);
          std::copy(a + lo, a + hi + 1, ch.area_iter.link_nodes(link) + lo);
        }
      });
      if (w.sections)
        own_nodes(ch, w.other_sections, other, [&](int link, int first, int last) {
          section_nodes(ch, tables, link, first, last, exceeded, section_faults);
        });
    }
  };
  run_section_region(ch, w, region);
  w.outlet_fault = outlet_fault;
}

// The corrector pass's region, after the structures' flows from the predicted geometry: flows
// into qp_iter and their mean with the predictor's into qp, the outlet and the structures' cut on
// one thread, the volume balance from the start of the sub-step into area with the largest
// change from the predicted areas; then, by that change, the geometry of the next pass, the
// accepted sub-step's, or the start of the sub-step put back.
after_corrector corrector_pass(channel_state& ch, substep_work& w, double time, double h,
                               int passes, double& source_volume, loop_fault& series_fault) {
  const depth_tables_view tables = depth_tables_of(ch);
  const int last_link = ch.chan_link_count;
  const int outlet_node = ch.nx[last_link];
  int outlet_fault = 0;
  double change = 0.0;
  int dry = 0;
  after_corrector next = after_corrector::next_pass;
  auto is_routed = [&](int link) { return routed(ch, link); };
  auto other = [&](int link) { return sectioned(ch, link) && !routed(ch, link); };
  // The region's body, each thread's reduction variables passed in.
  auto region = [&](int& exceeded, int& section_faults) {
    own_nodes(ch, w.routed_total, is_routed, [&](int link, int first, int last) {
      ex_ordinary_link_flows(ch, ch.qp_iter, link, first, last);
      if (!w.serial_ends && outlet_flow_of_share(ch, ch.qp_iter, link, last) != 0) outlet_fault = 1;
      // With structures or a held outlet, the outlet node's mean waits for the outlet's flow.
      const int end = w.serial_ends && link == last_link ? std::min(last, outlet_node - 1) : last;
      double* q = ch.qp.link_nodes(link);
      const double* q1 = ch.qp_last.link_nodes(link);
      const double* q2 = ch.qp_iter.link_nodes(link);
      for (int j = first; j <= end; ++j) q[j] = 0.5 * (q1[j] + q2[j]);
    });
#pragma omp barrier
    if (w.serial_ends) {
#pragma omp single
      {
        outlet_fault = ex_outlet_flow(ch, ch.qp_iter) != 0 ? 1 : 0;
        if (outlet_fault == 0) {
          // The mean at the outlet node and through the structures.
          if (routed(ch, last_link) && outlet_node >= 1)
            ch.qp(last_link, outlet_node) =
                0.5 * (ch.qp_last(last_link, outlet_node) + ch.qp_iter(last_link, outlet_node));
          for (int link = 1; link <= last_link; ++link) {
            const int type = ch.ltype[link];
            if (!link_is_structure(type) || link_is_lake(type) || link_is_captured(type)) continue;
            double* q = ch.qp.link_nodes(link);
            const double* q1 = ch.qp_last.link_nodes(link);
            const double* q2 = ch.qp_iter.link_nodes(link);
            for (int j = 1; j <= ch.nx[link]; ++j) q[j] = 0.5 * (q1[j] + q2[j]);
          }
          ex_limit_structure_flows(ch, ch.qp, ch.area_old, time, h, &series_fault);
        }
      }
    }
    if (outlet_fault == 0) {
      double own_change = 0.0;
      int own_dry = 0;
      own_nodes(ch, w.routed_total, is_routed, [&](int link, int first, int last) {
        ex_link_volumes(ch, ch.qp, ch.area_old, ch.area, link, first, last, h);
        const double* a = ch.area.link_nodes(link);
        const double* ai = ch.area_iter.link_nodes(link);
        for (int j = first; j <= last; ++j) {
          if (a[j] < -1e-8) own_dry = 1;
          own_change = std::max(own_change, std::fabs(a[j] - ai[j]));
        }
      });
      // The largest change is the same whatever the order in which the threads add theirs.
#pragma omp critical(routing_corrector_change)
      {
        change = std::max(change, own_change);
        dry |= own_dry;
      }
#pragma omp barrier
      // The same decision on every thread, from the combined figures.
      const after_corrector own_next = dry != 0                      ? after_corrector::restore
                                       : change > 0.01 && passes < 2 ? after_corrector::next_pass
                                                                     : after_corrector::accept;
#pragma omp single nowait
      {
        next = own_next;
        if (next != after_corrector::restore && w.sources) source_volume = ex_source_volume(ch);
      }
      own_nodes(ch, w.routed_total, is_routed, [&](int link, int first, int last) {
        double* a = ch.area.link_nodes(link);
        if (own_next == after_corrector::restore) {
          const double* a0 = ch.area_old.link_nodes(link);
          const double* q0 = ch.qp_old.link_nodes(link);
          std::copy(a0 + first, a0 + last + 1, a + first);
          std::copy(q0 + first, q0 + last + 1, ch.qp.link_nodes(link) + first);
          std::copy(q0 + first, q0 + last + 1, ch.qp_last.link_nodes(link) + first);
          std::copy(q0 + first, q0 + last + 1, ch.qp_iter.link_nodes(link) + first);
        } else if (own_next == after_corrector::accept) {
          for (int j = first; j <= last; ++j)
            if (a[j] < 0.0) a[j] = 0.0;
        }
        if (w.sections) section_nodes(ch, tables, link, first, last, exceeded, section_faults);
      });
      if (w.sections)
        own_nodes(ch, w.other_sections, other, [&](int link, int first, int last) {
          section_nodes(ch, tables, link, first, last, exceeded, section_faults);
        });
    }
  };
  run_section_region(ch, w, region);
  w.outlet_fault = outlet_fault;
  w.change = change;
  w.dry = dry;
  return next;
}

// Adds the water that passed each hydrograph location during an accepted sub-step of `h`
// seconds to the location's event volume of the optimisation output, so that the volume is the
// integral of the location's discharge over the event.
void book_location_volumes(model_state& ms, double h) {
  const channel_state& ch = ms.channel;
  calibration_state& cal = ms.calibration;
  if (!cal.optimize_on || cal.optimize_sed || ch.hyd_location_count < 1) return;
  raw_array1d<double>& volume = cal.loc_peak_aux;
  const int n =
      std::min({ch.hyd_location_count, volume.count(), ch.hlink.count(), ch.hnode.count()});
  for (int k = 1; k <= n; ++k) {
    const int link = ch.hlink[k];
    const int node = ch.hnode[k];
    if (ch.qp.has(link, node)) volume[k] += h * ch.qp(link, node);
  }
}

// Adds the water that passed each routed node's downstream face during an accepted sub-step of
// `h` seconds to the node's face volume, which the channel constituents' routing moves its
// mass with and then clears. A structure link books the flow through it at its nodes too: the
// water a channel lake gives through its outlet.
void book_face_volumes(channel_state& ch, double h) {
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    const int type = ch.ltype[link];
    if (link_is_structure(type) && !link_is_lake(type) && !link_is_captured(type)) {
      for (int j = 1; j <= ch.qp_vol.node_count(link) && j <= ch.qp.node_count(link); ++j)
        ch.qp_vol(link, j) += h * ch.qp(link, j);
      continue;
    }
    if (!routed(ch, link) || ch.qp_vol.node_count(link) < ch.nx[link]) continue;
    double* v = ch.qp_vol.link_nodes(link);
    const double* q = ch.qp.link_nodes(link);
    for (int j = 1; j <= ch.nx[link]; ++j) v[j] += h * q[j];
  }
}

void sub_step_too_small() {
  printf("The channel routing time step is getting really small\n");
  printf("less than 1/1000 of a second\n");
  printf("Reduce the model time step by a factor of 2 and try again.\n");
  printf("Program stopped.\n");
}

}  // namespace

int ex_flow_route(model_state& ms, double dt, double& pipe_volume) {
  channel_state& ch = ms.channel;
  pipe_volume = 0.0;
  ch.chan_outlet_volume = 0.0;
  ch.chan_source_volume = 0.0;
  if (!check_routing_network(ch)) return -1;
  if (!routing_arrays_ready(ch)) {
    stop_now();
    return -1;
  }
  // Rising lakes take over channel nodes, fallen ones give them back, once per call.
  const bool lakes = ms.perennial_lakes && ch.num_lakes > 0;
  if (lakes && lake_capture_release(ms) < 0) return -1;
  if (dt <= 1e-16) return 0;

  // The node sets of the loops: fixed for the call (only the lakes change the node counts).
  substep_work w;
  w.routed_total = chosen_node_total(ch, [&](int link) { return routed(ch, link); });
  w.other_sections =
      chosen_node_total(ch, [&](int link) { return sectioned(ch, link) && !routed(ch, link); });
  w.sections = has_sections(ch);
  w.serial_ends = ch.head_bound != 0;
  for (int link = 1; link <= ch.chan_link_count; ++link)
    if (link_is_structure(ch.ltype[link])) w.serial_ends = true;
  const bool series = !ch.stream_pointsource.empty();
  w.sources = series || ch.points.chan_point_on != 0;
  const double time = ms.current_time;

  const bool seepage = ch.stream_loss && !ch.qriv.empty() && !ch.qriv_start.empty() &&
                       ch.qriv_start.element_count() == ch.qriv.element_count();
  int status = 0;

  const int last = ch.chan_link_count;
  const double max_courant = ch.max_courant_number;
  double r = dt;
  double h = dt;
  while (r > 1e-16) {
    // Courant limit: h only shrinks from one sub-step to the next. Stiffness limit: the
    // diffusion of the levels along the links and the response of the structures to the levels
    // on their sides.
    ex_structure_stiffness(ch, ch.node_stiffness, time);
    substep_start(ch, w, h, ch.routing_passes == 0);
    if (w.faults != 0) {
      courant_number_serial(ch, h);  // reports the first faulty node
      stop_now();
      return -1;
    }
    if (w.cmax >= max_courant) h = h / std::trunc(w.cmax / max_courant + 1.0);
    if (h > w.stable) h = h / std::trunc(h / w.stable + 1.0);
    // The stream beds' seepage from the levels and heads at the start of the sub-step; every
    // volume balance of the sub-step starts again from it.
    if (seepage) {
      status = chan_gw_exchange(ms, nullptr, false);
      if (run_error.error_fatal) return -1;
      std::copy(ch.qriv.data(), ch.qriv.data() + ch.qriv.element_count(), ch.qriv_start.data());
    }
    ++ch.routing_passes;

    double step_source_volume = 0.0;
    for (;;) {
      if (h < 0.001) {
        sub_step_too_small();
        stop_now();
        return -1;
      }
      r -= h;
      if (r <= 0.001) {
        h += r;  // the last sub-step ends exactly at the end of the step
        r = 0.0;
      }
      int passes = 0;
      after_corrector next = after_corrector::next_pass;
      while (next == after_corrector::next_pass) {
        ++passes;
        // Predictor: flows from the present geometry, areas from the start of the sub-step.
        ex_structure_flows(ch, ch.qp_last, time, h);
        if (series) ex_series_volumes(ch, time, h);
        {
          loop_fault series_fault;
          predictor_pass(ch, w, time, h, series_fault);
          if (series_fault.found()) series_fault.raise();
        }
        if (w.outlet_fault != 0) {
          ex_report_negative_outlet_slope();
          return -1;
        }
        if (w.section_faults != 0) ex_section(ms, 1);  // reports the first faulty node
        if (run_error.error_fatal) return -1;
        // Corrector: flows from the predicted geometry; the mean of both moves the water.
        ex_structure_flows(ch, ch.qp_iter, time, h);
        if (series) ex_series_volumes(ch, time, h);
        {
          loop_fault series_fault;
          next = corrector_pass(ch, w, time, h, passes, step_source_volume, series_fault);
          if (series_fault.found()) series_fault.raise();
        }
        if (w.outlet_fault != 0) {
          ex_report_negative_outlet_slope();
          return -1;
        }
        if (w.section_faults != 0) ex_section(ms, 1);
        if (run_error.error_fatal) return -1;
      }
      if (next == after_corrector::accept) break;
      // A node would run dry below zero: the sub-step is halved and started again.
      r += h;
      h = 0.5 * h;
    }

    // The sub-step is accepted.
    if (lakes) lake_book_substep(ch, h);
    if (seepage) book_stream_seepage(ms, h);
    ch.chan_outlet_volume += h * ch.qp(last, ch.nx[last]);
    if (ms.transport.chan_con_trans) book_face_volumes(ch, h);
    if (ch.points.chan_point_on) book_chan_point_mass(ch.points, h);
    book_location_volumes(ms, h);
    ch.chan_source_volume += step_source_volume;
  }
  return status;
}
