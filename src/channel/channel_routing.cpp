// Explicit channel routing (ex_flow_route): Courant-limited sub-steps over the whole channel
// network, each a predictor pass and a corrector pass of link-end flows and node volume balances,
// a sub-step halved and retried whenever a node would hold a negative area. Called once per
// channel step by the channel step, after the lateral exchange.
#include "channel/channel_routing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "channel/channel_lakes.h"
#include "channel/channel_steps.h"
#include "channel/link_flows.h"
#include "channel/node_ranges.h"
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

// The routed links' values of `from` copied into `to`, nodes 1..nx.
void copy_routed(const channel_state& ch, const link_node_array<double>& from,
                 link_node_array<double>& to) {
  auto chosen = [&](int link) { return routed(ch, link); };
  const long total = chosen_node_total(ch, chosen);
#pragma omp parallel if (total >= routing_parallel_min_nodes)
  visit_own_nodes(ch, total, chosen, [&](int link, int first, int last) {
    const double* f = from.link_nodes(link);
    double* t = to.link_nodes(link);
    std::copy(f + first, f + last + 1, t + first);
  });
}

// Negative flow areas of the routed links set to 0.
void clip_negative_areas(channel_state& ch, link_node_array<double>& a) {
  auto chosen = [&](int link) { return routed(ch, link); };
  const long total = chosen_node_total(ch, chosen);
#pragma omp parallel if (total >= routing_parallel_min_nodes)
  visit_own_nodes(ch, total, chosen, [&](int link, int first, int last) {
    double* al = a.link_nodes(link);
    for (int j = first; j <= last; ++j)
      if (al[j] < 0.0) al[j] = 0.0;
  });
}

// The last node of a link that drains through a structure.
bool drains_into_structure(const channel_state& ch, int link) {
  const int down = ch.dslink[link];
  return down >= 1 && down <= ch.chan_link_count && link_is_structure(ch.ltype[down]);
}

// The largest Courant number of the routed links' nodes for a sub-step h, one node after the
// other, or -1 after a node whose area is not a number or whose depth is negative (its message
// printed).
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

// The largest Courant number of the routed links' nodes for a sub-step h, or -1 after a node
// whose area is not a number or whose depth is negative (its message printed). The last node of
// a link that drains through a structure does not count: its outflow is the structure's, held to
// the water at hand and bounded by the structure's stiffness, and once that cut acts the node
// passes its whole water in every sub-step, a Courant number of 1 whatever the sub-step.
// The nodes are shared among the threads (the largest of their largest numbers is the same
// whatever the sharing); a faulty node sends the scan to the serial form, which reports the first.
double courant_number(channel_state& ch, double h) {
  auto chosen = [&](int link) { return routed(ch, link); };
  const long total = chosen_node_total(ch, chosen);
  double cmax = 0.0;
  int faults = 0;
#pragma omp parallel if (total >= routing_parallel_min_nodes) reduction(max     \
                                                                        : cmax) \
    reduction(|                                                                 \
              : faults)
  visit_own_nodes(ch, total, chosen, [&](int link, int first, int last) {
    const int counted = drains_into_structure(ch, link) ? ch.nx[link] - 1 : ch.nx[link];
    const double dx = ch.dx[link];
    const double* a = ch.area.link_nodes(link);
    const double* yp = ch.yp.link_nodes(link);
    const double* bel = ch.bel.link_nodes(link);
    const double* q = ch.qp.link_nodes(link);
    for (int j = first; j <= last; ++j) {
      if (std::isnan(a[j]) || yp[j] - bel[j] < 0.0) faults = 1;
      if (j > counted) continue;
      const double c = a[j] > 1e-16 ? (h / dx) * (q[j] / a[j]) : 0.0;
      cmax = std::max(cmax, c);
    }
  });
  return faults != 0 ? courant_number_serial(ch, h) : cmax;
}

// One pass of the corrector's scan: the largest change of a routed node's area from its
// predicted area, or -1 when a node holds an area below -1e-8 (the sub-step fails).
double corrector_change(const channel_state& ch) {
  auto chosen = [&](int link) { return routed(ch, link); };
  const long total = chosen_node_total(ch, chosen);
  double change = 0.0;
  int dry = 0;
#pragma omp parallel if (total >= routing_parallel_min_nodes) reduction(max                   \
                                                                        : change) reduction(| \
                                                                                            : dry)
  visit_own_nodes(ch, total, chosen, [&](int link, int first, int last) {
    const double* a = ch.area.link_nodes(link);
    const double* ai = ch.area_iter.link_nodes(link);
    for (int j = first; j <= last; ++j) {
      if (a[j] < -1e-8) dry = 1;
      change = std::max(change, std::fabs(a[j] - ai[j]));
    }
  });
  return dry != 0 ? -1.0 : change;
}

// The corrector's flows: the mean of the predictor's and the corrector's at every node of every
// link but lakes.
void mean_flows(channel_state& ch) {
  auto chosen = [&](int link) {
    const int type = ch.ltype[link];
    return !link_is_lake(type) && !link_is_captured(type);
  };
  const long total = chosen_node_total(ch, chosen);
#pragma omp parallel if (total >= routing_parallel_min_nodes)
  visit_own_nodes(ch, total, chosen, [&](int link, int first, int last) {
    double* q = ch.qp.link_nodes(link);
    const double* q1 = ch.qp_last.link_nodes(link);
    const double* q2 = ch.qp_iter.link_nodes(link);
    for (int j = first; j <= last; ++j) q[j] = 0.5 * (q1[j] + q2[j]);
  });
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

  const int last = ch.chan_link_count;
  const double max_courant = ch.max_courant_number;
  double r = dt;
  double h = dt;
  while (r > 1e-16) {
    // Courant limit: h only shrinks from one sub-step to the next.
    const double cmax = courant_number(ch, h);
    if (cmax < 0.0) {
      stop_now();
      return -1;
    }
    if (cmax >= max_courant) h = h / std::trunc(cmax / max_courant + 1.0);
    // Stiffness limit: the diffusion of the levels along the links and the response of the
    // structures to the levels on their sides.
    const double stable = ex_stable_substep(ch, ch.node_stiffness, ms.current_time);
    if (h > stable) h = h / std::trunc(h / stable + 1.0);

    copy_routed(ch, ch.area, ch.area_old);
    copy_routed(ch, ch.qp, ch.qp_old);
    if (ch.routing_passes == 0) {
      copy_routed(ch, ch.qp, ch.qp_last);
      copy_routed(ch, ch.qp, ch.qp_iter);
    }
    ++ch.routing_passes;

    double step_pipe_volume = 0.0;
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
      double change = 1.0;
      int passes = 0;
      bool failed = false;
      while (change > 0.01 && passes < 2) {
        if (passes > 0) ex_section(ms, 1);
        if (run_error.error_fatal) return -1;
        ++passes;
        // Predictor: flows from the present geometry, areas from the start of the sub-step.
        if (ex_link_end_flows(ch, ch.qp_last, ms.current_time, h) == -1) return -1;
        copy_routed(ch, ch.area_old, ch.area);
        ex_chan_volume(ch, ch.qp_last, ch.area, ms.current_time, h, dt, step_source_volume);
        clip_negative_areas(ch, ch.area);
        ex_section(ms, 1);
        if (run_error.error_fatal) return -1;
        copy_routed(ch, ch.area, ch.area_iter);
        // Corrector: flows from the predicted geometry; the mean of both moves the water.
        if (ex_link_end_flows(ch, ch.qp_iter, ms.current_time, h) == -1) return -1;
        mean_flows(ch);
        copy_routed(ch, ch.area_old, ch.area);
        step_pipe_volume =
            ex_chan_volume(ch, ch.qp, ch.area, ms.current_time, h, dt, step_source_volume);
        change = corrector_change(ch);
        if (change < 0.0) {
          failed = true;
          break;
        }
      }
      if (!failed) break;
      // A node would run dry below zero: halve the sub-step and start it again.
      r += h;
      h = 0.5 * h;
      copy_routed(ch, ch.area_old, ch.area);
      copy_routed(ch, ch.qp_old, ch.qp);
      copy_routed(ch, ch.qp_old, ch.qp_last);
      copy_routed(ch, ch.qp, ch.qp_iter);
      ex_section(ms, 1);
      if (run_error.error_fatal) return -1;
    }

    // The sub-step is accepted.
    pipe_volume += step_pipe_volume;
    clip_negative_areas(ch, ch.area);
    ex_section(ms, 1);
    if (run_error.error_fatal) return -1;
    if (lakes) lake_book_substep(ch, h);
    ch.chan_outlet_volume += h * ch.qp(last, ch.nx[last]);
    book_location_volumes(ms, h);
    ch.chan_source_volume += step_source_volume;
  }
  return 0;
}
