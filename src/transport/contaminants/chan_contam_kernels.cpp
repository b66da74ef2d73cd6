// Kernels of the channel constituent routing: the pending terms of a node and the explicit
// upwind advection and dispersion of one constituent along the channel links over a channel
// step. Called by the channel constituent routing step.
#include "transport/contaminants/chan_contam_kernels.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cmath>
#include <cstddef>
#include <utility>

#include "framework/core/parallel_team.h"

namespace {

constexpr double tiny = 1e-16;
constexpr int max_passes = 100;

inline int flat(const chan_network_view& n, int link, int node) {
  return link * n.stride + node;
}

// The link whose first node takes the water leaving the last node of link l: the link below, or
// the one below a hydraulic structure there, which holds no water of its own and passes it on;
// 0 when the water leaves the network.
inline int receiving_link(const chan_network_view& n, int l) {
  const int d = n.dslink[l];
  if (d < 1 || d > n.links) return 0;
  if (chan_link_routed(n.ltype[d])) return d;
  return chan_structure_passes(n, d);
}

// The node below node j of link l (flat index), 0 when the water leaves the network there.
inline int below(const chan_network_view& n, int l, int j) {
  if (j < n.nx[l]) return flat(n, l, j + 1);
  const int d = receiving_link(n, l);
  return d != 0 ? flat(n, d, 1) : 0;
}

// Flow area at the start of the channel step of the node below node j of link l.
inline double below_start_area(const chan_network_view& n, int l, int j) {
  if (j < n.nx[l]) return (*n.area_old)(l, j + 1);
  return (*n.area_old)(receiving_link(n, l), 1);
}

// True when the face below node j of link l is a hydraulic structure: nothing disperses there.
inline bool through_structure(const chan_network_view& n, int l, int j) {
  return j == n.nx[l] && !chan_link_routed(n.ltype[n.dslink[l]]);
}

// Most threads of the routing's team: the per-thread parts of its reductions live on the stack.
constexpr int max_team = 256;

int team(const chan_network_view& n) {
  return std::min(max_team, team_size(static_cast<long>(n.links) * std::max(1, n.stride)));
}

// The routing's sub-step runs in one parallel region whose loops share the links among the
// threads alike; what a loop finds (the largest Courant number or change, the smallest mass) is
// gathered in per-thread parts and combined by every thread after a barrier. Max and min give
// the same result in any order, so the outcome does not depend on the team. The parts are kept
// twice, used in turn: a thread that writes one set has passed the barrier every other thread
// reached only after reading the other.
struct team_parts {
  double high[2][max_team];
  double low[2][max_team];
};

// Called by every thread of the region after its own share of a loop: its largest and smallest
// figures into the parts of turn `turn`, a barrier, then the team's largest and smallest. Outside
// a parallel region the one thread's own.
void combine(team_parts& p, int& turn, double& high, double& low) {
  const int t = omp_get_thread_num();
  const int threads = omp_get_num_threads();
  const int u = turn;
  turn ^= 1;
  p.high[u][t] = high;
  p.low[u][t] = low;
#pragma omp barrier
  for (int i = 0; i < threads; ++i) {
    high = std::max(high, p.high[u][i]);
    low = std::min(low, p.low[u][i]);
  }
}

// The concentration on the far side of a lake's outlet structure s: the first node of the link
// below it, another lake, or nothing (0) out of the network.
inline double beyond_outlet(const chan_network_view& n, int s, const double* c) {
  const int d = n.dslink[s];
  if (d < 1 || d > n.links) return 0.0;
  if (chan_link_routed(n.ltype[d])) return n.nx[d] >= 1 ? c[flat(n, d, 1)] : 0.0;
  if ((n.ltype[d] & (32 | 128)) != 0) {
    const int lake = n.lakes->lake2link[d];
    if (lake >= 1 && lake <= n.lakes->count) return n.lakes->conc[lake];
  }
  return 0.0;
}

// The advective (g per sub-step, upwind) and dispersive (g/s) flux of the face between nodes j
// and j + 1 (flat k, k + 1) of a routed link of node length dxl, face volumes v and start areas
// a0 (its own nodes' arrays), from the concentrations c over a sub-step that is the share s of
// the channel step; with `mean_adv`, the mean of the new flux and the face's entry there and in
// `mean_disp`.
inline void inner_face(const double* v, const double* a0, const double* dc, double dxl,
                       const double* c, double s, int j, int k, const double* mean_adv,
                       const double* mean_disp, double& adv, double& disp) {
  const double vol = v[j] * s;
  double a = vol * (vol >= 0.0 ? c[k] : c[k + 1]);
  double d = 0.0;
  if (a0[j] > 0.0 && a0[j + 1] > 0.0)
    d = std::min(a0[j] * dc[k], a0[j + 1] * dc[k + 1]) * (c[k] - c[k + 1]) / dxl;
  if (mean_adv != nullptr) {
    a = 0.5 * (a + mean_adv[k]);
    d = 0.5 * (d + mean_disp[k]);
  }
  adv = a;
  disp = d;
}

// The fluxes, as inner_face gives them, of the last face of routed link l: into the link below,
// a structure, a lake or out of the network. Both 0 for a link without nodes. The thread of the
// link below computes this face again for its first node rather than wait for the link's
// thread: the same arithmetic on the same values, so the same bits.
inline void last_face(const chan_network_view& n, const chan_route_work& w, const double* c,
                      double s, int l, const double* mean_adv, const double* mean_disp, double& adv,
                      double& disp) {
  const int j = n.nx[l];
  if (j < 1) {
    adv = disp = 0.0;
    return;
  }
  const int k = flat(n, l, j);
  const double vol = n.face_volume->link_nodes(l)[j] * s;
  double a = 0.0;
  double d = 0.0;
  const int lake_end = chan_link_lake_end(n, l);
  if (lake_end != 0) {
    // Into a lake: no dispersion across its shore; water the lake sends back up the link
    // carries the lake's concentration.
    a = vol * (vol >= 0.0 ? c[k] : n.lakes->conc[lake_end]);
  } else {
    const int m = below(n, l, j);
    a = vol * (vol >= 0.0 || m == 0 ? c[k] : c[m]);
    if (m != 0 && !through_structure(n, l, j)) {
      const double a0 = n.area_old->link_nodes(l)[j];
      const double am = below_start_area(n, l, j);
      if (a0 > 0.0 && am > 0.0)
        d = std::min(a0 * w.disp_coef[k], am * w.disp_coef[m]) * (c[k] - c[m]) / n.dx[l];
    }
  }
  if (mean_adv != nullptr) {
    a = 0.5 * (a + mean_adv[k]);
    d = 0.5 * (d + mean_disp[k]);
  }
  adv = a;
  disp = d;
}

// The advective flux (as inner_face) of the outlet structure s of a lake: the water leaving the
// lake carries its concentration, water coming back that of the side it comes from. Nothing
// disperses through it.
inline double outlet_face(const chan_network_view& n, const double* c, double share, int s,
                          int lake, const double* mean_adv) {
  const double vol = (*n.face_volume)(s, 1) * share;
  double a = vol * (vol >= 0.0 ? n.lakes->conc[lake] : beyond_outlet(n, s, c));
  if (mean_adv != nullptr) a = 0.5 * (a + mean_adv[flat(n, s, 1)]);
  return a;
}

// What crossed the upper face of the first node of routed link l over a sub-step of h seconds:
// what the links (or the lake or structure) above gave, their faces computed from c as the
// pass computes them.
double first_node_inflow(const chan_network_view& n, const chan_route_work& w, const double* c,
                         double s, double h, int l, const double* mean_adv,
                         const double* mean_disp) {
  double in = 0.0;
  double a = 0.0, d = 0.0;
  for (int u = 1; u <= n.ndep[l]; ++u) {
    const int up = n.uslinks[l][u];
    if (up < 1 || up > n.links) continue;
    if (chan_link_routed(n.ltype[up])) {
      last_face(n, w, c, s, up, mean_adv, mean_disp, a, d);
      in += a + h * d;
    } else if (const int lake = chan_structure_lake(n, up); lake != 0) {
      // The outlet of a lake above: its structure's flux (no dispersion).
      in += outlet_face(n, c, s, up, lake, mean_adv);
    } else if (chan_structure_passes(n, up) == l) {
      // What the links above the structure gave it.
      for (int v = 1; v <= n.ndep[up]; ++v) {
        const int above = n.uslinks[up][v];
        if (above < 1 || above > n.links || !chan_link_routed(n.ltype[above])) continue;
        last_face(n, w, c, s, above, mean_adv, mean_disp, a, d);
        in += a + h * d;
      }
    }
  }
  return in;
}

// One pass of a sub-step of h seconds, the share s of the channel step, over the links
// first..last: every face's fluxes from the concentrations c (with `mean_adv`, the mean with
// the last pass's), then every node's mass and concentration from the masses `base`: each node
// gathers its upper face's fluxes and gives its own. A link's thread computes its own faces and
// the faces that feed its first node, so the nodes need not wait for the other threads' faces.
// Sets `change` to the largest change of a concentration against `prev` (relative above
// 1 g/m3) and `least` to the smallest mass (at most 0) of these links.
void route_pass(const chan_network_view& n, const chan_route_work& w, const double* c, double s,
                double* adv, double* disp, const double* mean_adv, const double* mean_disp,
                const double* base, double h, double* mass, double* conc, const double* prev,
                int first, int last_link, double& change, double& least) {
  // The thread's own figures in locals, so that the node loop keeps them in registers.
  double own_change = 0.0;
  double own_least = 0.0;
  for (int l = first; l <= last_link; ++l) {
    if (!chan_link_routed(n.ltype[l])) {
      const int lake = chan_structure_lake(n, l);
      if (lake == 0) continue;
      const int k = flat(n, l, 1);
      adv[k] = outlet_face(n, c, s, l, lake, mean_adv);
      disp[k] = 0.0;
      if (mean_adv != nullptr) disp[k] = 0.5 * (disp[k] + mean_disp[k]);
      continue;
    }
    const int last = n.nx[l];
    if (last < 1) continue;
    const int first_k = flat(n, l, 0);
    const double dxl = n.dx[l];
    const double* v = n.face_volume->link_nodes(l);
    const double* a0 = n.area_old->link_nodes(l);
    const double* dc = w.disp_coef;
    const double* source = w.source;
    const double* area_adt = w.area_adt;
    // The link's faces first, in a loop of their own that carries nothing from one face to the
    // next; the link's fluxes are then still in the cache for its nodes.
    for (int j = 1; j < last; ++j) {
      const int k = first_k + j;
      double a = 0.0, d = 0.0;
      inner_face(v, a0, dc, dxl, c, s, j, k, mean_adv, mean_disp, a, d);
      adv[k] = a;
      disp[k] = d;
    }
    double a = 0.0, d = 0.0;
    last_face(n, w, c, s, l, mean_adv, mean_disp, a, d);
    adv[first_k + last] = a;
    disp[first_k + last] = d;
    // Each node's mass and concentration from what came in across its upper face (what the
    // links above gave the first node) and what left across its lower one.
    double in = first_node_inflow(n, w, c, s, h, l, mean_adv, mean_disp);
    for (int j = 1; j <= last; ++j) {
      const int k = first_k + j;
      const double out_adv = adv[k];
      const double out_disp = disp[k];
      const double m = base[k] + in - out_adv + (source[k] - out_disp) * h;
      const double water = area_adt[k] * dxl;
      const double cn = water >= tiny && m > 0.0 ? m / water : 0.0;
      mass[k] = m;
      own_least = std::min(own_least, m);
      if (prev != nullptr)
        own_change = std::max(own_change, std::fabs(cn - prev[k]) / std::max(1.0, std::fabs(cn)));
      conc[k] = cn;
      in = out_adv + h * out_disp;
    }
  }
  change = own_change;
  least = own_least;
}

// Copies the masses and concentrations of every routed node from `from_mass`, `from_conc` to
// `to_mass`, `to_conc` (a lake outlet's first node holds only the outlet's fluxes: it is not
// copied); with `restart` every node's advanced flow area goes back to the channel step's start.
// The links first..last are the calling thread's share, the same in every loop of the
// sub-step, so each thread copies the nodes it computes; the threads do not wait for each other.
void copy_nodes(const chan_network_view& n, const chan_route_work& w, const double* from_mass,
                const double* from_conc, double* to_mass, double* to_conc, bool restart, int first,
                int last) {
  for (int l = first; l <= last; ++l) {
    if (!chan_link_routed(n.ltype[l])) continue;
    const int k = flat(n, l, 0);
    std::copy(from_mass + k + 1, from_mass + k + n.nx[l] + 1, to_mass + k + 1);
    std::copy(from_conc + k + 1, from_conc + k + n.nx[l] + 1, to_conc + k + 1);
    if (restart) {
      const double* a0 = n.area_old->link_nodes(l);
      std::copy(a0 + 1, a0 + n.nx[l] + 1, w.area_adt + k + 1);
    }
  }
}

// The lakes' volumes advanced to the share s of the channel step (s = 0: its start).
void advance_lakes(const chan_network_view& n, double s) {
  chan_lake_work& w = *n.lakes;
  for (int lake = 1; lake <= w.count; ++lake)
    w.vol[lake] = w.vol_start[lake] + (w.vol_end[lake] - w.vol_start[lake]) * s;
}

// Calls visit(l) for every link that may book at the network's ends, in link order: those of the
// view's list when it has one, else every link.
template <class Visit>
void each_end_link(const chan_network_view& n, const Visit& visit) {
  if (n.end_links != nullptr) {
    for (int i = 1; i <= n.end_count; ++i) visit(n.end_links[i]);
  } else {
    for (int l = 1; l <= n.links; ++l) visit(l);
  }
}

// True when the water leaving the last node of link l leaves the network there.
bool leaves_network(const chan_network_view& n, int l) {
  return chan_link_routed(n.ltype[l]) && n.nx[l] >= 1 && below(n, l, n.nx[l]) == 0 &&
         chan_link_lake_end(n, l) == 0;
}

// An accepted sub-step of h seconds for the lakes, with the face fluxes the nodes used: each
// lake takes what the links ending in it brought and gives what its outlet carried, then its
// net source; its concentration follows its volume at the sub-step's end. Links in order, so
// the sums are the same on any number of threads.
void lake_update(const chan_network_view& n, const double* adv, double h) {
  chan_lake_work& w = *n.lakes;
  each_end_link(n, [&](int l) {
    if (chan_link_routed(n.ltype[l])) {
      const int lake = chan_link_lake_end(n, l);
      if (lake == 0 || n.nx[l] < 1) return;
      const double f = adv[flat(n, l, n.nx[l])];
      w.mass[lake] += f;
      w.from_links += f;
      return;
    }
    const int lake = chan_structure_lake(n, l);
    if (lake == 0) return;
    const double f = adv[flat(n, l, 1)];
    w.mass[lake] -= f;
    const int d = n.dslink[l];
    if (d >= 1 && d <= n.links && chan_link_routed(n.ltype[d])) {
      w.to_links += f;
    } else if (d >= 1 && d <= n.links && (n.ltype[d] & (32 | 128)) != 0) {
      const int other = w.lake2link[d];
      if (other >= 1 && other <= w.count) w.mass[other] += f;
    } else {
      w.out_of_network += f;
    }
  });
  for (int lake = 1; lake <= w.count; ++lake) {
    w.mass[lake] += h * w.source[lake];
    w.conc[lake] = w.vol[lake] >= tiny && w.mass[lake] > 0.0 ? w.mass[lake] / w.vol[lake] : 0.0;
  }
}

// The largest Courant number of the nodes over a sub-step of h seconds, for every thread of the
// enclosing region; the calling thread looks at its share of links first..last.
double courant_max(const chan_network_view& n, const chan_route_work& w, double h, double dt,
                   team_parts& parts, int& turn, int first, int last) {
  double cmax = 0.0;
  for (int l = first; l <= last; ++l) {
    if (!chan_link_routed(n.ltype[l])) continue;
    const double* v = n.face_volume->link_nodes(l);
    const double* a = n.area->link_nodes(l);
    for (int j = 1; j <= n.nx[l]; ++j) {
      const double water = n.dx[l] * w.area_adt[flat(n, l, j)];
      const double vol = std::fabs(v[j]);
      double c = 0.0;
      if (water > 1e-6)
        c = h * (vol / dt) / water;
      else
        c = n.dx[l] * a[j] > 1e-6 ? 5.0 : h * vol / dt;
      cmax = std::max(cmax, c);
    }
  }
  double unused = 0.0;
  combine(parts, turn, cmax, unused);
  return cmax;
}

// The flow areas of the nodes of links first..last (the calling thread's share) advanced by the
// share s of the channel step's change. A node's area is read only by its own thread in the
// passes that follow, so the threads do not wait for each other here.
void advance_areas(const chan_network_view& n, const chan_route_work& w, double s, int first,
                   int last) {
  for (int l = first; l <= last; ++l) {
    if (!chan_link_routed(n.ltype[l])) continue;
    const double* a = n.area->link_nodes(l);
    const double* a0 = n.area_old->link_nodes(l);
    for (int j = 1; j <= n.nx[l]; ++j) {
      double& adt = w.area_adt[flat(n, l, j)];
      adt = adt + (a[j] - a0[j]) * s;
    }
  }
}

// What a sub-step's region hands back to the calling thread.
struct substep_outcome {
  double step = 0.0;            // s: the sub-step taken
  double h = 0.0;               // s: the sub-step the Courant limit left
  int passes = 0;               // passes of the iteration
  double least = 0.0;           // g: the smallest node mass at its end
  const double* adv = nullptr;  // the fluxes of the accepted pass
  const double* disp = nullptr;
};

// What a sub-step's region does before its Courant limit: nothing, keep the accepted nodes as
// the channel step's start, or go back to that start (a restart); both put the flow areas back
// to the channel step's start.
enum class substep_start { none, keep, restore };

// The links first..last of the calling thread: the links shared in contiguous runs, the first
// links % threads runs one link longer, as a static schedule shares them.
struct link_share {
  int first = 1;
  int last = 0;
};

link_share share_of(int links, int threads, int t) {
  const int base = links / threads;
  const int extra = links % threads;
  link_share s;
  s.first = 1 + t * base + std::min(t, extra);
  s.last = s.first + base + (t < extra ? 1 : 0) - 1;
  return s;
}

// The thread whose share holds link l.
int owner_of(int links, int threads, int l) {
  const int base = links / threads;
  const int extra = links % threads;
  const int long_runs = extra * (base + 1);
  if (l - 1 < long_runs) return (l - 1) / (base + 1);
  return extra + (l - 1 - long_runs) / base;
}

// The passes of a sub-step do not gather the whole team after each pass. A pass over a thread's
// links reads, besides their own nodes, only the nodes of the links next to them (the links
// above, through a structure the links above it, the link below and the one beyond it), so a
// thread starts pass p as soon as the threads that own those links, or whose links read its own
// (its neighbours), have ended pass p - 1: then what it reads is there and what it overwrites
// (the arrays of pass p - 2) is read by no one any more. Whether the iteration stops after pass
// p is decided by every thread from the figures of every thread's pass p, once all have ended
// it; a thread that finds them not all there yet runs pass p + 1 meanwhile and looks again after
// it. A pass run past the one the team stops at is dropped (it wrote the arrays of the pass
// before), so the result is that pass's arrays, the same bits on any team.
constexpr int figure_slots = 4;  // pass p's figures: slot p % 4, kept while any thread may read
                                 // them (no thread is more than two passes ahead of another)

struct alignas(64) pass_mark {
  std::atomic<int> done{-1};  // the last pass the thread ended, -1 before the predictor
  double change[figure_slots];
  double least[figure_slots];
};

struct pass_marks {
  pass_mark mark[max_team];
  std::bitset<max_team> reads[max_team];  // per thread: the threads that own a link its links read
};

// Looks a bounded number of times whether `done` reached pass p, then sleeps until it moves:
// on a busy machine a waiting thread gives its processor back.
void wait_for_pass(const std::atomic<int>& done, int p) {
  constexpr int looks = 200;
  int seen = done.load(std::memory_order_acquire);
  for (int i = 0; seen < p && i < looks; ++i) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
    seen = done.load(std::memory_order_acquire);
  }
  while (seen < p) {
    done.wait(seen, std::memory_order_acquire);
    seen = done.load(std::memory_order_acquire);
  }
}

// The threads owning the links next to the links of share s (see pass_marks), into reads.
void mark_reads(const chan_network_view& n, int threads, link_share s,
                std::bitset<max_team>& reads) {
  reads.reset();
  auto note = [&](int l) {
    if (l >= 1 && l <= n.links) reads.set(static_cast<std::size_t>(owner_of(n.links, threads, l)));
  };
  for (int l = s.first; l <= s.last; ++l) {
    const int d = n.dslink[l];
    note(d);
    if (d >= 1 && d <= n.links) note(n.dslink[d]);
    for (int u = 1; u <= n.ndep[l]; ++u) {
      const int up = n.uslinks[l][u];
      note(up);
      if (up >= 1 && up <= n.links)
        for (int v = 1; v <= n.ndep[up]; ++v) note(n.uslinks[up][v]);
    }
  }
}

// One sub-step of at most h seconds of the `remaining` of the channel step dt, in one parallel
// region: what `start` asks, the Courant limit, the areas advanced, the predictor and the passes on
// the mean of the fluxes; when no node would lose more than it holds, the nodes' new values are
// accepted. Every thread takes the same decisions from the team's combined figures.
substep_outcome route_substep(const chan_network_view& n, const chan_route_work& w, double dt,
                              double h, double remaining, substep_start start) {
  team_parts parts;
  pass_marks marks;
  substep_outcome out;
#pragma omp parallel num_threads(team(n))
  {
    int turn = 0;
    const int t = omp_get_thread_num();
    const int threads = omp_get_num_threads();
    const link_share own = share_of(n.links, threads, t);
    if (start == substep_start::keep)
      copy_nodes(n, w, w.acc_mass, w.acc_conc, w.start_mass, w.start_conc, true, own.first,
                 own.last);
    else if (start == substep_start::restore)
      copy_nodes(n, w, w.start_mass, w.start_conc, w.acc_mass, w.acc_conc, true, own.first,
                 own.last);
    if (threads > 1) mark_reads(n, threads, own, marks.reads[t]);
    // Courant limit at the areas of the sub-step's start; its gathering is also where every
    // thread's copies and neighbours are there for the others.
    double hh = h;
    const double cmax = courant_max(n, w, hh, dt, parts, turn, own.first, own.last);
    if (cmax > 0.5 && hh > 0.1) hh = std::max(hh * 0.5 / cmax, 0.1);
    const double step = std::min(hh, remaining);
    const double share = step / dt;
    advance_areas(n, w, share, own.first, own.last);
    // The threads this one waits for before a pass: those it reads and those that read it.
    int waits[max_team];
    int wait_count = 0;
    for (int u = 0; u < threads; ++u)
      if (u != t && (marks.reads[t].test(static_cast<std::size_t>(u)) ||
                     marks.reads[u].test(static_cast<std::size_t>(t))))
        waits[wait_count++] = u;

    // The passes' arrays by the parity of the pass: the predictor (pass 0) and every even pass
    // write the `cur` nodes and the first flux arrays, the odd passes the `it` nodes and the
    // others; pass p reads the arrays of pass p - 1.
    double* const pass_mass[2] = {w.cur_mass, w.it_mass};
    double* const pass_conc[2] = {w.cur_conc, w.it_conc};
    double* const pass_adv[2] = {w.adv0, w.adv};
    double* const pass_disp[2] = {w.disp0, w.disp};
    pass_mark& mine = marks.mark[t];
    auto end_pass = [&](int p, double change, double least) {
      mine.change[p % figure_slots] = change;
      mine.least[p % figure_slots] = least;
      mine.done.store(p, std::memory_order_release);
      if (threads > 1) mine.done.notify_all();
    };
    // Every thread's figures of pass p, when all have ended it (or `wait`): the team's largest
    // change and smallest mass. False when not all are there yet.
    auto team_figures = [&](int p, bool wait, double& change, double& least) {
      change = 0.0;
      least = 0.0;
      for (int u = 0; u < threads; ++u) {
        const pass_mark& m = marks.mark[u];
        if (wait)
          wait_for_pass(m.done, p);
        else if (m.done.load(std::memory_order_acquire) < p)
          return false;
        change = std::max(change, m.change[p % figure_slots]);
        least = std::min(least, m.least[p % figure_slots]);
      }
      return true;
    };

    double change = 0.0, least = 0.0;
    route_pass(n, w, w.acc_conc, share, pass_adv[0], pass_disp[0], nullptr, nullptr, w.acc_mass,
               step, pass_mass[0], pass_conc[0], nullptr, own.first, own.last, change, least);
    end_pass(0, change, least);
    // The pass the team stops at: the first whose largest change is at most 1e-6, or the last
    // allowed; `decided` counts the passes whose figures were looked at.
    int stop = 0;
    int decided = 0;
    double team_least = 0.0;
    for (int p = 1; stop == 0; ++p) {
      // Past a pass not yet decided, at most one further pass: decide it first.
      if (decided < p - 2) {
        double team_change = 0.0;
        team_figures(p - 2, true, team_change, team_least);
        decided = p - 2;
        if (team_change <= 1e-6) {
          stop = p - 2;
          break;
        }
      }
      for (int i = 0; i < wait_count; ++i) wait_for_pass(marks.mark[waits[i]].done, p - 1);
      const int b = p & 1, a = b ^ 1;
      route_pass(n, w, pass_conc[a], share, pass_adv[b], pass_disp[b], pass_adv[a], pass_disp[a],
                 w.acc_mass, step, pass_mass[b], pass_conc[b], pass_conc[a], own.first, own.last,
                 change, least);
      end_pass(p, change, least);
      // Decide the passes whose figures are all there, oldest first; at the last pass allowed,
      // wait for them.
      for (int q = decided + 1; q <= p && stop == 0; ++q) {
        double team_change = 0.0;
        if (!team_figures(q, p == max_passes, team_change, team_least)) break;
        decided = q;
        if (team_change <= 1e-6 || q == max_passes) stop = q;
      }
    }
    // Accepted unless a node would lose more than it holds; the region's end waits for every
    // thread's copies.
    const int b = stop & 1;
    if (!(team_least < -1e-6))
      copy_nodes(n, w, pass_mass[b], pass_conc[b], w.acc_mass, w.acc_conc, false, own.first,
                 own.last);
    if (t == 0) {
      out.step = step;
      out.h = hh;
      out.passes = stop;
      out.least = team_least;
      out.adv = pass_adv[b];
      out.disp = pass_disp[b];
    }
  }
  return out;
}

}  // namespace

double apply_pending_term(double& m, double& pending, double dt, double interval, double tolerance,
                          double sign) {
  if (!(std::fabs(pending) > tiny)) return 0.0;
  double a = pending;
  if (dt < interval - tolerance && interval > 0.0) a = pending * dt / interval;
  if (m + sign * a < 0.0) a = sign * -m;
  m += sign * a;
  pending -= a;
  return a;
}

bool chan_link_routed(int ltype) {
  return (ltype & (32 | 64 | 128)) == 0;
}

int chan_number_routed_nodes(const chan_network_view& n, int* first) {
  int count = 0;
  for (int l = 1; l <= n.links; ++l) {
    first[l] = count + 1;
    if (chan_link_routed(n.ltype[l])) count += std::max(0, n.nx[l]);
  }
  first[n.links + 1] = count + 1;
  return count;
}

int chan_network_ends(const chan_network_view& n, int* ends) {
  int count = 0;
  for (int l = 1; l <= n.links; ++l) {
    const bool into_lake =
        chan_link_routed(n.ltype[l]) && n.nx[l] >= 1 && chan_link_lake_end(n, l) != 0;
    if (leaves_network(n, l) || into_lake || chan_structure_lake(n, l) != 0) ends[++count] = l;
  }
  return count;
}

int chan_structure_passes(const chan_network_view& n, int s) {
  if (s < 1 || s > n.links || (n.ltype[s] & (32 | 64 | 128)) != 64) return 0;
  const int d = n.dslink[s];
  if (d < 1 || d > n.links || !chan_link_routed(n.ltype[d])) return 0;
  return d;
}

int chan_link_lake_end(const chan_network_view& n, int l) {
  if (n.lakes == nullptr || n.lakes->count < 1) return 0;
  int d = n.dslink[l];
  // A structure into a lake passes the link's water on to it.
  if (d >= 1 && d <= n.links && (n.ltype[d] & (32 | 64 | 128)) == 64) d = n.dslink[d];
  if (d < 1 || d > n.links || (n.ltype[d] & (32 | 128)) == 0) return 0;
  const int lake = n.lakes->lake2link[d];
  return lake >= 1 && lake <= n.lakes->count ? lake : 0;
}

int chan_structure_lake(const chan_network_view& n, int l) {
  if (n.lakes == nullptr || n.lakes->count < 1) return 0;
  const int t = n.ltype[l];
  if ((t & 64) == 0 || (t & (32 | 128)) != 0 || n.ndep[l] < 1) return 0;
  const int up = n.uslinks[l][1];
  if (up < 1 || up > n.links || (n.ltype[up] & (32 | 128)) == 0) return 0;
  const int lake = n.lakes->lake2link[up];
  return lake >= 1 && lake <= n.lakes->count ? lake : 0;
}

int chan_wq_route(const chan_network_view& n, const chan_route_work& w, double dt,
                  double& outlet_mass, double* least_mass) {
  // The step's start is kept for a restart by the first sub-step's region, which also puts the
  // areas at the channel step's start.
  substep_start start = substep_start::keep;
  chan_lake_work* lakes = n.lakes != nullptr && n.lakes->count >= 1 ? n.lakes : nullptr;
  if (lakes != nullptr)
    for (int lake = 1; lake <= lakes->count; ++lake) {
      lakes->start_mass[lake] = lakes->mass[lake];
      lakes->start_conc[lake] = lakes->conc[lake];
    }
  double h = dt;
  for (;;) {
    // (Re)start from the channel step's start: the outlet's and the lakes' books.
    outlet_mass = 0.0;
    if (lakes != nullptr) {
      advance_lakes(n, 0.0);
      lakes->from_links = lakes->to_links = lakes->out_of_network = 0.0;
    }
    double elapsed = 0.0;
    double remaining = dt;
    bool rejected = false;
    while (remaining > tiny) {
      const substep_outcome sub = route_substep(n, w, dt, h, remaining, start);
      start = substep_start::none;
      h = sub.h;
      const double step = sub.step;
      elapsed += step;

      // A node that would lose more than it holds: the step starts again with half the sub-step.
      if (sub.least < -1e-6) {
        h *= 0.5;
        if (h < 0.001) return -1;
        start = substep_start::restore;
        if (lakes != nullptr)
          for (int lake = 1; lake <= lakes->count; ++lake) {
            lakes->mass[lake] = lakes->start_mass[lake];
            lakes->conc[lake] = lakes->start_conc[lake];
          }
        rejected = true;
        break;
      }
      remaining -= step;
      if (least_mass != nullptr) *least_mass = sub.least;
      if (sub.passes == max_passes && remaining > tiny && h > 0.1) h *= 0.5;

      // Accepted: what left through the network's ends is booked, in link order.
      const double* adv = sub.adv;
      const double* disp = sub.disp;
      each_end_link(n, [&](int l) {
        if (leaves_network(n, l))
          outlet_mass += adv[flat(n, l, n.nx[l])] + step * disp[flat(n, l, n.nx[l])];
      });
      if (lakes != nullptr) {
        const double before = lakes->out_of_network;
        advance_lakes(n, elapsed / dt);
        lake_update(n, adv, step);
        outlet_mass += lakes->out_of_network - before;
      }
    }
    if (!rejected) return 0;
  }
}
