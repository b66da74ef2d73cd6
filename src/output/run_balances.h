// End-of-run water balances: the final stores, the groundwater and Sacramento checks, the
// simulation totals with the global and surface balances, the lake and drain balances, and
// the VRO hydrograph file.
#pragma once

struct model_state;
struct run_totals;

// Fills the run totals of the processes this version simulates from their running totals.
void gather_run_totals(model_state& ms);

// The global (overall), surface and simple-soil balances of the run, in percent, without the
// Sacramento model; each is 0 when its denominator is not positive.
void close_run_balances(run_totals& t, bool saturated_gw, bool plain_green_ampt, bool simple_soil);

// The largest overall water balance error (percent, either sign) of a run whose books close; a
// store of the run's end may be below empty by at most the same share of the water that came in.
inline constexpr double max_overall_error_percent = 1.0;

// A store of the run's end, as the books hold it.
struct final_store {
  const char* where;  // where the water is, e.g. "on the surface"
  double volume;      // m3
};

// The first store of the run's end that is below empty by more than max_overall_error_percent
// of the water that came in (and by more than round-off): water the run made, which its books
// count as a store. `where` is null when no store is.
final_store store_below_empty(const run_totals& t);

// True when the run's books do not close: its overall water balance error is beyond
// max_overall_error_percent or is not a number, or a store of its end is below empty.
bool run_books_fail(const run_totals& t);

// The overall and surface balances of a run with the Sacramento model, in percent and in its
// sign convention (a surplus of outputs is positive), with the run's totals formed without the
// drains; each is 0 when its denominator is not positive.
void close_sacramento_balances(run_totals& t);
