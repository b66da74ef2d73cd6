// The Richards columns side by side: every column of a batch ends on the bits the one-column
// step gives it, on every instruction set, whatever its neighbours in the batch do (dry or
// ponded, with roots or over a water table, a column that gives no number), and the one-column
// step gives the same bits on every instruction set.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "subsurface/richards_batch.h"
#include "subsurface/richards_column.h"
#include "support/vector_target_loop.h"

namespace {

constexpr int nodes = 20;

// A column's arrays and what the step carries for it.
struct batch_column_case {
  std::vector<double> a[20];  // the view's arrays, in richards_column_view's order
  double depth = 0.0;
  int bound = 1;
  double dtr = richards_saturated_start_step;
  richards_books books;
  richards_demand demand;
  richards_column_view view() {
    double* p[20];
    for (int k = 0; k < 20; ++k) p[k] = a[k].data();
    return {p[0],  p[1],  p[2],  p[3],  p[4],  p[5],  p[6],  p[7],  p[8],  p[9],
            p[10], p[11], p[12], p[13], p[14], p[15], p[16], p[17], p[18], p[19]};
  }
};

// Column i of a set: contents, surface water, soil and roots vary with i, so that the columns
// of a batch take different sub-steps, iterations and boundaries; column `poisoned` has a
// conductivity that is no number.
batch_column_case make_batch_column(int i, int model, int poisoned) {
  batch_column_case c;
  for (std::vector<double>& v : c.a) v.assign(nodes + 1, 0.0);
  const double initial = 0.12 + 0.025 * (i % 11);
  const double ks = i % 3 == 0 ? 0.4 : (i % 3 == 1 ? 2.0 : 6.0);
  for (int k = 0; k <= nodes; ++k) {
    c.a[6][k] = k > 1 && i % 4 == 1 ? 0.02 * ks : ks;  // ks: a tight lower layer in some
    c.a[7][k] = i % 5 == 2 ? 1.5 : 2.5;                // dz
    c.a[8][k] = 0.45;                                  // thetas
    c.a[9][k] = 0.06;                                  // thetar
    c.a[10][k] = 0.12;                                 // thetawp
    c.a[11][k] = 0.28;                                 // thetafc
    const double lam = i % 2 == 0 ? 0.4 : 0.25, bp = i % 2 == 0 ? -25.0 : -12.0;
    c.a[12][k] = brooks_corey_transition_theta(0.45, 0.06, lam);
    c.a[13][k] = brooks_corey_transition_head(bp, lam);
    c.a[14][k] = bp;
    c.a[15][k] = lam;
    c.a[16][k] = 36.93;
    c.a[17][k] = i % 2 == 0 ? 3.96 : 2.5;
    c.a[18][k] = 1.175e6;
    c.a[19][k] = 4.74;
  }
  if (i == poisoned) c.a[6][7] = std::nan("");
  richards_column_view v = c.view();
  for (int k = 0; k <= nodes; ++k) {
    v.theta[k] = initial;
    v.phead[k] = soil_psi_from_theta(v, model, k, initial);
  }
  const double surface_cm[] = {0.0, 0.05, 0.4, 3.0};
  c.depth = surface_cm[i % 4] / 100.0;
  // Some columns start ponded or with a saturated surface, as an earlier step left them.
  const bool saturated_top = i % 6 == 5 || i % 6 == 0;
  c.bound = i % 12 == 5 ? 3 : (saturated_top || i % 7 == 3 ? 2 : 1);
  if (saturated_top)
    for (int k = 0; k <= 3; ++k) {
      v.theta[k] = 0.45;
      v.phead[k] = 0.0;
    }
  soil_props(v, model, nodes);
  if (i % 3 == 2) {
    c.demand.surface_et = 0.02;
    c.demand.soil_et = 0.03;
    c.demand.root_depth = 12.0;
  }
  return c;
}

bool batch_same_bits(const batch_column_case& x, const batch_column_case& y, std::string& what) {
  const char* names[] = {"phead", "khead", "theta", "watcap", "watflux", "source"};
  for (int k = 0; k < 6; ++k)
    if (std::memcmp(x.a[k].data(), y.a[k].data(), sizeof(double) * (nodes + 1)) != 0) {
      what = names[k];
      return false;
    }
  const double xs[] = {
      x.depth,         x.dtr,       x.books.infiltrated, x.books.drained, x.books.et_surface,
      x.books.et_soil, x.books.rate};
  const double ys[] = {
      y.depth,         y.dtr,       y.books.infiltrated, y.books.drained, y.books.et_surface,
      y.books.et_soil, y.books.rate};
  if (std::memcmp(xs, ys, sizeof(xs)) != 0) {
    what = "surface water, sub-step or books";
    return false;
  }
  if (x.bound != y.bound || x.books.substeps != y.books.substeps ||
      x.books.solves != y.books.solves || x.books.bad_number != y.books.bad_number) {
    what = "boundary or counts";
    return false;
  }
  return true;
}

// Thirteen columns (a batch of eight and the next five taken as lanes come free) over three
// steps of 10 minutes, rain added before each, under several sets of options.
TEST(RichardsBatch, EveryColumnEndsOnTheBitsOfItsOneColumnStepOnEveryTarget) {
  struct option_case {
    const char* what;
    int model, k_option, upper_option, iter_max;
    double weight;
    bool water_table;
  };
  const option_case options[] = {
      {"Brooks-Corey, geometric faces, free drainage", soil_model_brooks_corey, 2, 1, 1, 1.0,
       false},
      {"Brooks-Corey, weighted faces, over a water table, three iterations",
       soil_model_brooks_corey, 1, 3, 3, 0.7, true},
      {"Havercamp, saturated top face, two iterations", soil_model_havercamp, 2, 2, 2, 1.0, false},
  };
  constexpr int columns = 13, steps = 3, poisoned = 9;
  const double dt_h = 1.0 / 6.0;
  for (const option_case& oc : options) {
    SCOPED_TRACE(oc.what);
    richards_options o;
    o.model = oc.model;
    o.k_option = oc.k_option;
    o.upper_option = oc.upper_option;
    o.iter_max = oc.iter_max;
    o.weight = oc.weight;
    o.water_table = oc.water_table;
    std::vector<batch_column_case> first_target;
    int checked = 0;
    for_every_vector_target([&](const std::string&) {
      std::vector<batch_column_case> one, side;
      for (int i = 0; i < columns; ++i) {
        one.push_back(make_batch_column(i, o.model, poisoned));
        side.push_back(make_batch_column(i, o.model, poisoned));
      }
      // Work spaces left full of numbers: nothing may come from them.
      std::vector<double> work_one(richards_work_size(nodes), 1.0e30);
      std::vector<double> work_side(richards_batch_work_size(nodes), -7.0);
      for (int s = 0; s < steps; ++s) {
        std::vector<richards_batch_column> batch(columns);
        for (int i = 0; i < columns; ++i) {
          const double rain = (i % 5 == 4 ? 0.0 : (i % 2 == 0 ? 0.8 : 0.1)) / 100.0;
          for (batch_column_case* c : {&one[i], &side[i]}) {
            c->depth += rain;
            c->books = richards_books();
          }
          richards_column_step(one[i].view(), nodes, o, one[i].demand, dt_h, one[i].depth,
                               one[i].bound, one[i].dtr, work_one.data(), one[i].books);
          batch[i] = {side[i].view(), side[i].demand, &side[i].depth,
                      &side[i].bound, &side[i].dtr,   &side[i].books};
        }
        richards_columns_step(batch.data(), columns, nodes, o, dt_h, work_side.data());
        for (int i = 0; i < columns; ++i) {
          std::string what;
          EXPECT_TRUE(batch_same_bits(one[i], side[i], what))
              << "column " << i << " step " << s << ": " << what << " differ";
        }
      }
      // The columns did what the set is there to show: some ponded, one gave no number, and the
      // others took water in.
      int ponded = 0, bad = 0, wet = 0;
      for (const batch_column_case& c : one) {
        ponded += c.bound != 1 ? 1 : 0;
        bad += c.books.bad_number ? 1 : 0;
        wet += !c.books.bad_number && c.books.infiltrated > 0.0 ? 1 : 0;
      }
      EXPECT_GT(ponded, 0);
      EXPECT_EQ(bad, 1);
      EXPECT_GT(wet, columns / 2);
      // The one-column step gives the same bits on every target.
      if (first_target.empty()) {
        first_target = one;
      } else {
        for (int i = 0; i < columns; ++i) {
          std::string what;
          EXPECT_TRUE(batch_same_bits(first_target[i], one[i], what))
              << "column " << i << ": " << what << " differ from the first target's";
        }
      }
      ++checked;
    });
    EXPECT_GE(checked, 2);
  }
}

// A thread's queue of columns: each column is asked for once, in turn, under the caller's own
// number; its lane starts from the books the column comes with (none: from zero), and the
// column comes back once, under its number, with its arrays already written and the books and
// state its one-column step gives it, on every target. Twenty-one columns (eight lanes taken
// and refilled twice over, one column that gives no number), two steps.
TEST(RichardsBatch, AQueueHandsBackEveryColumnOnceOnTheBitsOfItsOneColumnStep) {
  constexpr int columns = 21, steps = 2, poisoned = 9, first_id = 500;
  const double dt_h = 1.0 / 6.0;
  richards_options o;
  o.iter_max = 2;
  struct queue_state {
    std::vector<batch_column_case>*side, *one;
    int next = 0;
    std::vector<int> done;  // times each column came back
    std::vector<std::string> faults;
  };
  const auto next = [](void* context, richards_batch_column& column, int& id) {
    queue_state& q = *static_cast<queue_state*>(context);
    if (q.next >= columns) return false;
    batch_column_case& c = (*q.side)[q.next];
    // Odd columns come with books of an earlier call to go on from; even ones with none.
    column = {c.view(), c.demand, &c.depth, &c.bound, &c.dtr, q.next % 2 == 1 ? &c.books : nullptr};
    id = first_id + q.next++;
    return true;
  };
  const auto done = [](void* context, int id, const richards_books& books) {
    queue_state& q = *static_cast<queue_state*>(context);
    const int i = id - first_id;
    if (i < 0 || i >= columns || i >= q.next) {
      q.faults.push_back("a number that was never handed out: " + std::to_string(id));
      return;
    }
    ++q.done[i];
    batch_column_case& c = (*q.side)[i];
    c.books = books;
    std::string what;
    if (!batch_same_bits((*q.one)[i], c, what))
      q.faults.push_back("column " + std::to_string(i) + ": " + what + " differ when it is done");
  };
  int checked = 0;
  for_every_vector_target([&](const std::string&) {
    std::vector<batch_column_case> one, side;
    for (int i = 0; i < columns; ++i) {
      one.push_back(make_batch_column(i, o.model, poisoned));
      side.push_back(make_batch_column(i, o.model, poisoned));
    }
    std::vector<double> work_one(richards_work_size(nodes));
    std::vector<double> work_side(richards_batch_work_size(nodes), 3.0);
    for (int s = 0; s < steps; ++s) {
      for (int i = 0; i < columns; ++i) {
        const double rain = (i % 3 == 0 ? 1.5 : 0.2) / 100.0;
        richards_books start;
        if (i % 2 == 1) {
          start.infiltrated = 0.25 * i;
          start.et_surface = 0.01;
          start.substeps = 7;
          start.solves = 11;
        }
        for (batch_column_case* c : {&one[i], &side[i]}) {
          c->depth += rain;
          c->books = start;
        }
        richards_column_step(one[i].view(), nodes, o, one[i].demand, dt_h, one[i].depth,
                             one[i].bound, one[i].dtr, work_one.data(), one[i].books);
      }
      queue_state q;
      q.side = &side;
      q.one = &one;
      q.done.assign(columns, 0);
      richards_columns_step(richards_column_queue{&q, next, done}, nodes, o, dt_h,
                            work_side.data());
      for (const std::string& f : q.faults) ADD_FAILURE() << "step " << s << ": " << f;
      for (int i = 0; i < columns; ++i)
        EXPECT_EQ(q.done[i], 1) << "column " << i << " step " << s << " came back that often";
    }
    EXPECT_TRUE(side[poisoned].books.bad_number);
    EXPECT_GT(side[0].books.substeps, 0);
    ++checked;
  });
  EXPECT_GE(checked, 2);
}

}  // namespace
