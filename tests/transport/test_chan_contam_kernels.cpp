// Kernels of the channel constituent routing: a pending term's share of the routing step and its
// limit, and the routing of one constituent along a small network of two links joining a third:
// mass conservation (the nodes' final mass and the outlet's equal the start and the sources),
// upwind transport of a slug, the same bits on 1 and 8 threads and on teams whose threads hold
// several links of a comb, two links giving a structure
// what the link below it takes on any team, a lake mixing and emptying
// through its outlet, and a node drained faster than any sub-step can follow stopping the
// routing; the block-ordered sums over the routed nodes, the same bits on any team.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include "framework/core/process_info.h"
#include "transport/contaminants/chan_contam_kernels.h"

namespace {

TEST(ChanContamKernels, APendingTermAppliesItsShareAndNeverTakesMoreThanTheNodeHolds) {
  struct row {
    const char* what;
    double m, pending, dt, interval, sign;
    double applied, m_after, pending_after;
  };
  const row rows[] = {
      {"a tenth of a longer interval", 10.0, 50.0, 10.0, 100.0, 1.0, 5.0, 15.0, 45.0},
      {"within the tolerance: whole", 10.0, 50.0, 10.0, 10.4, 1.0, 50.0, 60.0, 0.0},
      {"a loss smaller than the mass", 10.0, 4.0, 10.0, 10.0, -1.0, 4.0, 6.0, 0.0},
      {"a loss larger than the mass takes the mass", 10.0, 40.0, 10.0, 10.0, -1.0, 10.0, 0.0, 30.0},
      {"a withdrawal larger than the mass", 10.0, -40.0, 10.0, 10.0, 1.0, -10.0, 0.0, -30.0},
      {"a tiny amount is left alone", 10.0, 1e-17, 10.0, 10.0, 1.0, 0.0, 10.0, 1e-17},
  };
  for (const row& r : rows) {
    double m = r.m, pending = r.pending;
    EXPECT_DOUBLE_EQ(apply_pending_term(m, pending, r.dt, r.interval, 0.5, r.sign), r.applied)
        << r.what;
    EXPECT_DOUBLE_EQ(m, r.m_after) << r.what;
    EXPECT_DOUBLE_EQ(pending, r.pending_after) << r.what;
  }
}

// The network view and the routing's work arrays of the small fixture networks below (each with
// the members these read).
template <class Net>
chan_network_view network_view_of(Net& net) {
  chan_network_view n;
  n.links = net.links;
  n.stride = net.stride;
  n.ltype = net.ltype;
  n.nx = net.nx;
  n.ndep = net.ndep;
  n.uslinks = net.uslinks;
  n.dslink = net.dslink;
  n.dx = net.dx;
  n.area = &net.area;
  n.area_old = &net.area_old;
  n.face_volume = &net.face;
  return n;
}

chan_route_work route_work_of(std::vector<std::vector<double>>& work) {
  double* p[17];
  for (int k = 0; k < 17; ++k) p[k] = work[static_cast<std::size_t>(k)].data();
  return {p[0], p[1],  p[2],  p[3],  p[4],  p[5],  p[6],  p[7], p[8],
          p[9], p[10], p[11], p[12], p[13], p[14], p[15], p[16]};
}

// Links 1 and 2 (5 nodes each, 100 m) join link 3 (5 nodes), which leaves the network. Each
// head link carries `q` m3/s and link 3 twice that, through areas of 10 m2 that do not change.
struct small_network {
  static constexpr int links = 3, nodes = 5, stride = 6, flat = (links + 1) * stride + 1;
  int ltype[links + 1] = {0, 0, 0, 0};
  int nx[links + 1] = {0, nodes, nodes, nodes};
  int ndep[links + 1] = {0, 0, 0, 2};
  int up_rows[links + 1][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 1, 2}};
  const int* uslinks[links + 1] = {up_rows[0], up_rows[1], up_rows[2], up_rows[3]};
  int dslink[links + 1] = {0, 3, 3, 0};
  double dx[links + 1] = {0.0, 100.0, 100.0, 100.0};
  link_node_array<double> area, area_old, face;
  std::vector<std::vector<double>> work = std::vector<std::vector<double>>(17);

  small_network(double q, double dt) {
    const int counts[links + 1] = {0, nodes, nodes, nodes};
    area.allocate(links, counts);
    area_old.allocate(links, counts);
    face.allocate(links, counts);
    for (int l = 1; l <= links; ++l)
      for (int j = 1; j <= nodes; ++j) {
        area(l, j) = area_old(l, j) = 10.0;
        face(l, j) = (l == 3 ? 2.0 : 1.0) * q * dt;
      }
    for (std::vector<double>& v : work) v.assign(flat, 0.0);
  }
  chan_network_view view() { return network_view_of(*this); }
  chan_route_work route() { return route_work_of(work); }
  double& mass(int l, int j) { return work[0][static_cast<std::size_t>(l * stride + j)]; }
  double& conc(int l, int j) { return work[1][static_cast<std::size_t>(l * stride + j)]; }
  double& source(int l, int j) { return work[8][static_cast<std::size_t>(l * stride + j)]; }
  double& disp(int l, int j) { return work[9][static_cast<std::size_t>(l * stride + j)]; }
  double total() {
    double sum = 0.0;
    for (int l = 1; l <= links; ++l)
      for (int j = 1; j <= nodes; ++j) sum += mass(l, j);
    return sum;
  }
  // A slug of `c` g/m3 in node 2 of link 1.
  void slug(double c) {
    conc(1, 2) = c;
    mass(1, 2) = c * 10.0 * 100.0;
  }
};

TEST(ChanContamKernels, TheRoutingKeepsEveryGramAndMovesTheSlugDownstream) {
  const double dt = 60.0;
  small_network net(5.0, dt);  // a Courant number of 0.3 per node and step
  net.slug(1000.0);
  for (int l = 1; l <= 3; ++l)
    for (int j = 1; j <= 5; ++j) net.disp(l, j) = 2.0;
  net.source(2, 3) = 0.5;  // g/s into link 2's node 3
  const double start = net.total();
  double out_total = 0.0;
  for (int step = 0; step < 40; ++step) {
    double out = 0.0;
    ASSERT_EQ(chan_wq_route(net.view(), net.route(), dt, out), 0);
    out_total += out;
    if (step == 0) {
      // Downstream of the slug the first step already carries some; upstream only dispersion.
      EXPECT_GT(net.mass(1, 3), 0.0);
      EXPECT_LT(net.mass(1, 2), start);
      EXPECT_GT(net.mass(1, 1), 0.0);
      EXPECT_LT(net.mass(1, 1), net.mass(1, 3));
    }
    net.source(2, 3) = 0.0;
  }
  // In: the slug and 0.5 g/s for 60 s; out: the outlet; stored: the nodes.
  const double in = start + 0.5 * dt;
  EXPECT_NEAR(net.total() + out_total, in, 1e-12 * in);
  EXPECT_GT(out_total, 0.5 * in);  // 40 minutes move most of it out
  for (int l = 1; l <= 3; ++l)
    for (int j = 1; j <= 5; ++j) {
      EXPECT_GE(net.mass(l, j), 0.0);
      EXPECT_NEAR(net.conc(l, j), net.mass(l, j) / 1000.0, 1e-12 * (1.0 + net.conc(l, j)));
    }
}

// The routing reports the smallest mass it leaves at a node, so that its caller looks for
// negative nodes only when there is one: 0 when every node ends at or above 0, else the most
// negative node's mass. A node drained by a small withdrawal (above the restart threshold of
// -1e-6 g) ends slightly below 0 and is the one reported.
TEST(ChanContamKernels, TheRoutingReportsTheSmallestMassItLeavesAtANode) {
  struct row {
    const char* what;
    double withdrawal;  // g/s taken from link 2's first node, which starts empty
    bool negative;      // a node is left below 0
  };
  const row rows[] = {
      {"a slug and no withdrawal", 0.0, false},
      {"an empty node losing 1e-9 g/s", 1e-9, true},
  };
  for (const row& r : rows) {
    const double dt = 60.0;
    small_network net(5.0, dt);
    net.slug(1000.0);
    net.source(2, 1) = -r.withdrawal;
    double out = 0.0, least = 123.0;
    ASSERT_EQ(chan_wq_route(net.view(), net.route(), dt, out, &least), 0) << r.what;
    double smallest = 0.0;
    for (int l = 1; l <= 3; ++l)
      for (int j = 1; j <= 5; ++j) smallest = std::min(smallest, net.mass(l, j));
    EXPECT_EQ(least, smallest) << r.what;
    EXPECT_EQ(least < 0.0, r.negative) << r.what;
  }
}

// A structure passes the constituents on only into an ordinary link below it: the link below
// a structure that is itself a lake or captured, or that leads into a lake, a captured link or
// out of the network, takes none through it, and an ordinary link is no structure.
TEST(ChanContamKernels, AStructurePassesItsConstituentsOnlyIntoAnOrdinaryLink) {
  const struct {
    const char* what;
    int structure_type;  // ltype of link 2
    int below_type;      // ltype of link 3
    int below;           // dslink of link 2
    int passes_to;
  } cases[] = {
      {"a weir into an ordinary link", 64, 0, 3, 3},
      {"a weir into a lake", 64, 32, 3, 0},
      {"a weir into a captured link", 64, 4 | 128, 3, 0},
      {"a weir at the network's end", 64, 0, 0, 0},
      {"a lake structure", 64 | 32, 0, 3, 0},
      {"an ordinary link", 0, 0, 3, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    small_network net(1.0, 60.0);
    net.ltype[2] = c.structure_type;
    net.ltype[3] = c.below_type;
    net.dslink[2] = c.below;
    EXPECT_EQ(chan_structure_passes(net.view(), 2), c.passes_to);
  }
}

TEST(ChanContamKernels, OneAndEightThreadsRouteTheSameBits) {
  std::vector<double> masses[2];
  double outs[2] = {0.0, 0.0};
  const int threads[2] = {1, 8};
  const int saved = omp_get_max_threads();
  const long long saved_share = process_info.cells_per_thread;
  process_info.cells_per_thread = 1;  // every link of this small network gets its own thread
  for (int t = 0; t < 2; ++t) {
    omp_set_num_threads(threads[t]);
    small_network net(20.0, 30.0);  // Courant numbers above 0.5: sub-steps
    net.slug(1e6);
    for (int l = 1; l <= 3; ++l)
      for (int j = 1; j <= 5; ++j) net.disp(l, j) = 5.0;
    for (int step = 0; step < 10; ++step) {
      double out = 0.0;
      ASSERT_EQ(chan_wq_route(net.view(), net.route(), 30.0, out), 0);
      outs[t] += out;
    }
    masses[t] = net.work[0];
  }
  omp_set_num_threads(saved);
  process_info.cells_per_thread = saved_share;
  EXPECT_EQ(masses[0], masses[1]);
  EXPECT_EQ(outs[0], outs[1]);
  EXPECT_GT(outs[0], 0.0);
}

// Links 1 and 2 (5 nodes of 100 m, 10 m2) end at the structure link 3, which passes their water
// to link 4 (5 nodes, 20 m2), which leaves the network. Each link of the team's threads
// computes the faces that feed its first node itself: what links 1 and 2 give must be what
// link 4 takes, or grams are made or lost at the structure.
struct structure_network {
  static constexpr int links = 4, nodes = 5, stride = 6, flat = (links + 1) * stride + 1;
  int ltype[links + 1] = {0, 0, 0, 64, 0};
  int nx[links + 1] = {0, nodes, nodes, 1, nodes};
  int ndep[links + 1] = {0, 0, 0, 2, 1};
  int up_rows[links + 1][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 1, 2}, {0, 3, 0}};
  const int* uslinks[links + 1] = {up_rows[0], up_rows[1], up_rows[2], up_rows[3], up_rows[4]};
  int dslink[links + 1] = {0, 3, 3, 4, 0};
  double dx[links + 1] = {0.0, 100.0, 100.0, 0.0, 100.0};
  link_node_array<double> area, area_old, face;
  std::vector<std::vector<double>> work = std::vector<std::vector<double>>(17);

  // q m3/s through the head links, 2q below the structure, over routing steps of dt seconds.
  structure_network(double q, double dt) {
    area.allocate(links, nx);
    area_old.allocate(links, nx);
    face.allocate(links, nx);
    for (int l = 1; l <= links; ++l)
      for (int j = 1; j <= nx[l]; ++j) {
        area(l, j) = area_old(l, j) = l == 3 ? 0.0 : l == 4 ? 20.0 : 10.0;
        face(l, j) = (l >= 3 ? 2.0 : 1.0) * q * dt;
      }
    for (std::vector<double>& v : work) v.assign(flat, 0.0);
    for (int l : {1, 2, 4})
      for (int j = 1; j <= nodes; ++j) work[9][static_cast<std::size_t>(l * stride + j)] = 5.0;
  }
  chan_network_view view() { return network_view_of(*this); }
  chan_route_work route() { return route_work_of(work); }
  double& mass(int l, int j) { return work[0][static_cast<std::size_t>(l * stride + j)]; }
  double& conc(int l, int j) { return work[1][static_cast<std::size_t>(l * stride + j)]; }
  double total() {
    double sum = 0.0;
    for (int l : {1, 2, 4})
      for (int j = 1; j <= nodes; ++j) sum += mass(l, j);
    return sum;
  }
};

// Slugs at the ends of both head links run through the structure with dispersion, in sub-steps
// (Courant numbers above 0.5), on one thread and on a team where every link has its own thread:
// nodes and outlet keep every gram, link 4 gets the slugs and both teams give the same bits.
TEST(ChanContamKernels, WhatTheLinksAboveAStructureGiveTheLinkBelowTakesOnAnyTeam) {
  const int saved = omp_get_max_threads();
  const long long saved_share = process_info.cells_per_thread;
  process_info.cells_per_thread = 1;
  std::vector<double> masses[2];
  double outs[2] = {0.0, 0.0};
  const int threads[2] = {1, 8};
  for (int t = 0; t < 2; ++t) {
    omp_set_num_threads(threads[t]);
    structure_network net(20.0, 30.0);
    net.conc(1, 5) = 100.0;
    net.mass(1, 5) = 100.0 * 10.0 * 100.0;
    net.conc(2, 4) = 300.0;
    net.mass(2, 4) = 300.0 * 10.0 * 100.0;
    const double start = net.total();
    double reached = 0.0;
    for (int step = 0; step < 6; ++step) {
      double out = 0.0;
      ASSERT_EQ(chan_wq_route(net.view(), net.route(), 30.0, out), 0);
      outs[t] += out;
      EXPECT_NEAR(net.total() + outs[t], start, 1e-12 * start) << threads[t] << " threads";
      if (step == 0)
        for (int j = 1; j <= 5; ++j) reached += net.mass(4, j);
    }
    EXPECT_GT(reached, 0.05 * start) << threads[t] << " threads";
    EXPECT_GT(outs[t], 0.0) << threads[t] << " threads";
    masses[t] = net.work[0];
  }
  omp_set_num_threads(saved);
  process_info.cells_per_thread = saved_share;
  EXPECT_EQ(masses[0], masses[1]);
  EXPECT_EQ(outs[0], outs[1]);
}

// A comb: tributary 2i - 1 joins the head of trunk link 2i (i = 1..4), which also takes trunk
// link 2i - 2; trunk link 8 ends at the structure link 9, which passes its water to link 10,
// leaving the network. Links of 4 nodes of 50 m and 2 m2; every tributary carries 1 m3/s, so
// the trunk's Courant numbers rise downstream (above 0.5 from trunk link 4: sub-steps) and the
// passes of a sub-step converge at different speeds along the comb. Shared among teams of 2 to 8
// threads, a thread holds several links whose neighbours lie in its own share and in the shares
// beside it.
struct comb_network {
  static constexpr int links = 10, nodes = 4, stride = 5, flat = (links + 1) * stride + 1;
  int ltype[links + 1] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 64, 0};
  int nx[links + 1] = {0, nodes, nodes, nodes, nodes, nodes, nodes, nodes, nodes, 1, nodes};
  int ndep[links + 1] = {0, 0, 1, 0, 2, 0, 2, 0, 2, 1, 1};
  int up_rows[links + 1][3] = {{0, 0, 0}, {0, 0, 0}, {0, 1, 0}, {0, 0, 0}, {0, 3, 2}, {0, 0, 0},
                               {0, 5, 4}, {0, 0, 0}, {0, 7, 6}, {0, 8, 0}, {0, 9, 0}};
  const int* uslinks[links + 1] = {up_rows[0], up_rows[1], up_rows[2], up_rows[3],
                                   up_rows[4], up_rows[5], up_rows[6], up_rows[7],
                                   up_rows[8], up_rows[9], up_rows[10]};
  int dslink[links + 1] = {0, 2, 4, 4, 6, 6, 8, 8, 9, 10, 0};
  double dx[links + 1] = {0.0, 50.0, 50.0, 50.0, 50.0, 50.0, 50.0, 50.0, 50.0, 0.0, 50.0};
  link_node_array<double> area, area_old, face;
  std::vector<std::vector<double>> work = std::vector<std::vector<double>>(17);

  explicit comb_network(double dt) {
    area.allocate(links, nx);
    area_old.allocate(links, nx);
    face.allocate(links, nx);
    for (int l = 1; l <= links; ++l) {
      // m3/s through the link: 1 per tributary above it.
      const double q = l % 2 == 1 && l < 9 ? 1.0 : l == 9 || l == 10 ? 4.0 : l / 2.0;
      for (int j = 1; j <= nx[l]; ++j) {
        area(l, j) = area_old(l, j) = l == 9 ? 0.0 : 2.0;
        face(l, j) = q * dt;
      }
    }
    for (std::vector<double>& v : work) v.assign(flat, 0.0);
    for (int l = 1; l <= links; ++l)
      for (int j = 1; j <= nx[l] && l != 9; ++j)
        work[9][static_cast<std::size_t>(l * stride + j)] = 2.0 + l;
  }
  chan_network_view view() { return network_view_of(*this); }
  chan_route_work route() { return route_work_of(work); }
  double& mass(int l, int j) { return work[0][static_cast<std::size_t>(l * stride + j)]; }
  double& conc(int l, int j) { return work[1][static_cast<std::size_t>(l * stride + j)]; }
  double& source(int l, int j) { return work[8][static_cast<std::size_t>(l * stride + j)]; }
  double total() {
    double sum = 0.0;
    for (int l = 1; l <= links; ++l)
      for (int j = 1; j <= nx[l] && l != 9; ++j) sum += mass(l, j);
    return sum;
  }
};

// Slugs in the first and third tributaries and a steady source in trunk link 4 run down the comb
// through the structure over six steps of 30 s, in sub-steps, on teams of 1, 2, 3 and 8
// threads: nodes and outlet hold what was put in and every team gives the one thread's bits (a
// thread that starts a pass before its neighbours ended the last, or keeps a pass the team did
// not stop at, moves them).
TEST(ChanContamKernels, AThreadHoldingSeveralLinksRoutesTheSameBitsOnAnyTeam) {
  const int saved = omp_get_max_threads();
  const long long saved_share = process_info.cells_per_thread;
  process_info.cells_per_thread = 1;
  const int teams[] = {1, 2, 3, 8};
  std::vector<double> first_masses;
  double first_out = 0.0;
  for (const int threads : teams) {
    omp_set_num_threads(threads);
    comb_network net(30.0);
    net.conc(1, 2) = 1e4;
    net.mass(1, 2) = 1e4 * 2.0 * 50.0;
    net.conc(3, 1) = 500.0;
    net.mass(3, 1) = 500.0 * 2.0 * 50.0;
    const double rate = 2.0;  // g/s into node 3 of trunk link 4
    net.source(4, 3) = rate;
    const double start = net.total();
    double out = 0.0;
    for (int step = 0; step < 6; ++step) {
      double o = 0.0;
      ASSERT_EQ(chan_wq_route(net.view(), net.route(), 30.0, o), 0) << threads << " threads";
      out += o;
    }
    EXPECT_NEAR(net.total() + out, start + rate * 180.0, 1e-11 * start) << threads << " threads";
    EXPECT_GT(out, 0.0) << threads << " threads";
    if (threads == 1) {
      first_masses = net.work[0];
      first_out = out;
    } else {
      EXPECT_EQ(net.work[0], first_masses) << threads << " threads";
      EXPECT_EQ(out, first_out) << threads << " threads";
    }
  }
  omp_set_num_threads(saved);
  process_info.cells_per_thread = saved_share;
}

// Link 1 (5 nodes of 100 m, 10 m2) ends in lake 1 (link 2), which empties through the structure
// link 3 into link 4 (5 nodes), which leaves the network; `q` m3/s passes every face, the lake
// holds `volume` m3 throughout.
struct lake_network {
  static constexpr int links = 4, nodes = 5, stride = 6, flat = (links + 1) * stride + 1;
  int ltype[links + 1] = {0, 0, 32, 64, 0};
  int nx[links + 1] = {0, nodes, 0, 2, nodes};
  int ndep[links + 1] = {0, 0, 1, 1, 1};
  int up_rows[links + 1][2] = {{0, 0}, {0, 0}, {0, 1}, {0, 2}, {0, 3}};
  const int* uslinks[links + 1] = {up_rows[0], up_rows[1], up_rows[2], up_rows[3], up_rows[4]};
  int dslink[links + 1] = {0, 2, 3, 4, 0};
  int lake2link[links + 1] = {0, 0, 1, 0, 0};
  double dx[links + 1] = {0.0, 100.0, 0.0, 0.0, 100.0};
  link_node_array<double> area, area_old, face;
  std::vector<std::vector<double>> work = std::vector<std::vector<double>>(17);
  double vol[2], lake_mass[2], lake_conc[2], lake_source[2] = {0.0, 0.0};
  double lake_vol[2], lake_start_mass[2], lake_start_conc[2];
  chan_lake_work lakes;

  lake_network(double q, double dt, double volume) {
    const int counts[links + 1] = {0, nodes, 1, 2, nodes};
    area.allocate(links, counts);
    area_old.allocate(links, counts);
    face.allocate(links, counts);
    for (int l = 1; l <= links; ++l)
      for (int j = 1; j <= counts[l]; ++j) {
        area(l, j) = area_old(l, j) = l == 1 || l == 4 ? 10.0 : 0.0;
        face(l, j) = q * dt;
      }
    for (std::vector<double>& v : work) v.assign(flat, 0.0);
    vol[0] = vol[1] = volume;
    lake_mass[0] = lake_conc[0] = lake_mass[1] = lake_conc[1] = 0.0;
    lakes.count = 1;
    lakes.lake2link = lake2link;
    lakes.vol_start = vol;
    lakes.vol_end = vol;
    lakes.mass = lake_mass;
    lakes.conc = lake_conc;
    lakes.start_mass = lake_start_mass;
    lakes.start_conc = lake_start_conc;
    lakes.source = lake_source;
    lakes.vol = lake_vol;
  }
  chan_network_view view() {
    chan_network_view n = network_view_of(*this);
    n.lakes = &lakes;
    return n;
  }
  chan_route_work route() { return route_work_of(work); }
  double& mass(int l, int j) { return work[0][static_cast<std::size_t>(l * stride + j)]; }
  double& conc(int l, int j) { return work[1][static_cast<std::size_t>(l * stride + j)]; }
  double nodes_total() {
    double sum = 0.0;
    for (int l : {1, 4})
      for (int j = 1; j <= nodes; ++j) sum += mass(l, j);
    return sum;
  }
};

// A lake of 1e4 m3 at 100 g/m3 fed with clean water at 1 m3/s: each 60 s step (one sub-step:
// Courant numbers of 0.06) its outlet carries q dt times the concentration the lake had, so the
// lake holds M0 (1 - q dt / V)^n; what it gives reaches link 4, and lake, nodes and outlet
// together keep every gram. A slug in link 1 then runs into the lake and is booked as brought
// by the link.
TEST(ChanContamKernels, ALakeMixesWhatItsLinkBringsAndEmptiesThroughItsOutlet) {
  const double q = 1.0, dt = 60.0, volume = 1e4;
  lake_network net(q, dt, volume);
  net.lake_mass[1] = 100.0 * volume;
  net.lake_conc[1] = 100.0;
  const double m0 = net.lake_mass[1];
  double out_total = 0.0, given = 0.0;
  for (int step = 1; step <= 10; ++step) {
    double out = 0.0;
    ASSERT_EQ(chan_wq_route(net.view(), net.route(), dt, out), 0);
    out_total += out;
    given += net.lakes.to_links;
    EXPECT_EQ(net.lakes.from_links, 0.0);
    EXPECT_EQ(net.lakes.out_of_network, 0.0);
    EXPECT_NEAR(net.lake_mass[1], m0 * std::pow(1.0 - q * dt / volume, step), 1e-9 * m0) << step;
    EXPECT_DOUBLE_EQ(net.lake_conc[1], net.lake_mass[1] / volume);
  }
  EXPECT_GT(out_total, 0.0);  // the lake's water reached the network's end
  EXPECT_NEAR(m0 - net.lake_mass[1], given, 1e-9 * m0);
  EXPECT_NEAR(net.lake_mass[1] + net.nodes_total() + out_total, m0, 1e-9 * m0);
  // A slug of 1000 g/m3 in link 1's last node: the next step carries q dt of it into the lake.
  net.mass(1, 5) = 1000.0 * 10.0 * 100.0;
  net.conc(1, 5) = 1000.0;
  const double before = net.lake_mass[1] + net.nodes_total() + out_total;
  double out = 0.0;
  ASSERT_EQ(chan_wq_route(net.view(), net.route(), dt, out), 0);
  EXPECT_GT(net.lakes.from_links, 0.5 * q * dt * 1000.0);
  EXPECT_NEAR(net.lake_mass[1] + net.nodes_total() + out_total + out, before, 1e-9 * before);
}

// The links the routing books at the network's ends are listed once per routing step: link 1
// (into the lake), the lake's outlet structure 3 and link 4 (out of the network), not the lake
// link 2. Routing with the list gives the same bits as looking at every link: nodes, lake and
// outlet, over steps that carry a slug into the lake and the lake's water out.
TEST(ChanContamKernels, TheListedNetworkEndsBookWhatEveryLinkWouldBook) {
  const double q = 1.0, dt = 60.0, volume = 1e4;
  lake_network listed(q, dt, volume), every(q, dt, volume);
  int ends[lake_network::links + 1] = {};
  ASSERT_EQ(chan_network_ends(listed.view(), ends), 3);
  EXPECT_EQ(std::vector<int>(ends + 1, ends + 4), (std::vector<int>{1, 3, 4}));
  for (lake_network* net : {&listed, &every}) {
    net->lake_mass[1] = 100.0 * volume;
    net->lake_conc[1] = 100.0;
    net->mass(1, 5) = 1000.0 * 10.0 * 100.0;
    net->conc(1, 5) = 1000.0;
  }
  for (int step = 1; step <= 10; ++step) {
    chan_network_view with_list = listed.view();
    with_list.end_links = ends;
    with_list.end_count = 3;
    double out_listed = 0.0, out_every = 0.0;
    ASSERT_EQ(chan_wq_route(with_list, listed.route(), dt, out_listed), 0);
    ASSERT_EQ(chan_wq_route(every.view(), every.route(), dt, out_every), 0);
    EXPECT_EQ(out_listed, out_every) << step;
    EXPECT_EQ(listed.lake_mass[1], every.lake_mass[1]) << step;
    EXPECT_EQ(listed.lakes.from_links, every.lakes.from_links) << step;
    EXPECT_EQ(listed.lakes.to_links, every.lakes.to_links) << step;
    EXPECT_EQ(listed.work[0], every.work[0]) << step;
    if (step == 1) {
      EXPECT_GT(listed.lakes.from_links, 0.0);  // the slug reached the lake
    }
    EXPECT_GT(out_listed, 0.0) << step;  // the lake's water leaves the network
  }
}

TEST(ChanContamKernels, ANodeDrainedFasterThanAnySubStepCanFollowStopsTheRouting) {
  // 1 m2 of area over 1 m nodes hold 1 m3 each, while 1e5 m3 pass each face in the 1 s step:
  // even a sub-step of 0.001 s would empty a node's water a hundred times. Every restart with a
  // halved sub-step goes back to the step's start, on one thread and on a team of eight.
  const int saved = omp_get_max_threads();
  const long long saved_share = process_info.cells_per_thread;
  process_info.cells_per_thread = 1;
  for (const int threads : {1, 8}) {
    omp_set_num_threads(threads);
    small_network net(1e5, 1.0);
    for (int l = 1; l <= 3; ++l) {
      net.dx[l] = 1.0;
      for (int j = 1; j <= 5; ++j) net.area(l, j) = net.area_old(l, j) = 1.0;
    }
    net.conc(1, 2) = 5.0;
    net.mass(1, 2) = 5.0;
    double out = 0.0;
    EXPECT_EQ(chan_wq_route(net.view(), net.route(), 1.0, out), -1) << threads << " threads";
    EXPECT_EQ(net.mass(1, 2), 5.0) << threads << " threads";
    EXPECT_EQ(net.total(), 5.0) << threads << " threads";
  }
  omp_set_num_threads(saved);
  process_info.cells_per_thread = saved_share;
}

// Links of uneven lengths, with a lake, a structure and a link without nodes among them, so that
// the fixed blocks of routed nodes span links: every routed node is visited once, no other, and
// the sum is the blocks summed node by node and added in block order, the same bits on one
// thread and on teams of three and eight, which share the nodes among themselves.
TEST(ChanContamKernels, SumsOverTheRoutedNodesGoInFixedBlocksOnAnyTeam) {
  constexpr int links = 6;
  const int ltype[links + 1] = {0, 0, 32, 0, 64, 0, 0};
  const int nx[links + 1] = {0, 700, 40, 0, 3, 900, 1300};
  const int stride = 1301;
  chan_network_view n;
  n.links = links;
  n.stride = stride;
  n.ltype = ltype;
  n.nx = nx;
  int first[links + 2];
  const int count = chan_number_routed_nodes(n, first);
  ASSERT_EQ(count, 700 + 900 + 1300);
  ASSERT_GT(count, 2 * chan_sum_block_nodes);  // three blocks, two of them across links
  // Values whose sum depends on the order of the additions.
  auto value = [](int link, int node) {
    return std::ldexp(1.0 + 0.37 * std::sin(link * 7919 + node), (link * 31 + node) % 40 - 20);
  };
  // The sum written out: the routed nodes numbered link after link, each block of
  // chan_sum_block_nodes summed in node order, the block sums added in block order.
  double expected = 0.0, block = 0.0;
  int numbered = 0;
  for (int l = 1; l <= links; ++l) {
    if (ltype[l] != 0) continue;
    for (int j = 1; j <= nx[l]; ++j) {
      block += value(l, j);
      if (++numbered % chan_sum_block_nodes == 0) {
        expected += block;
        block = 0.0;
      }
    }
  }
  expected += block;
  const int saved = omp_get_max_threads();
  const long long saved_share = process_info.cells_per_thread;
  process_info.cells_per_thread = 256;
  for (const int threads : {1, 3, 8}) {
    omp_set_num_threads(threads);
    std::vector<int> visits(static_cast<std::size_t>((links + 1) * stride + 1), 0);
    std::vector<int> thread_of(visits.size(), -1);
    const double sum = chan_routed_node_sum(n, first, count, [&](int link, int node, int k) {
      EXPECT_EQ(k, link * stride + node);
      ++visits[static_cast<std::size_t>(k)];
      thread_of[static_cast<std::size_t>(k)] = omp_get_thread_num();
      return value(link, node);
    });
    EXPECT_EQ(sum, expected) << threads << " threads";
    std::set<int> team;
    for (int l = 1; l <= links; ++l)
      for (int j = 1; j <= nx[l]; ++j) {
        const std::size_t k = static_cast<std::size_t>(l * stride + j);
        EXPECT_EQ(visits[k], ltype[l] == 0 ? 1 : 0) << "link " << l << " node " << j;
        if (visits[k] == 1) team.insert(thread_of[k]);
      }
    // The team is sized by the routed nodes (2,900 at 256 a thread), not by the six links.
    EXPECT_EQ(static_cast<int>(team.size()), std::min(threads, 3)) << threads << " threads";
  }
  omp_set_num_threads(saved);
  process_info.cells_per_thread = saved_share;
}

}  // namespace
