// Precipitation events on the grid: the start of each event of the precipitation file (its
// records read and turned into intensities, the nearest-gauge table built), the per-record
// update of the per-cell rainfall intensity rain_cell from the gauges or the radar frames, and
// uniform rainfall. The run driver calls start_precip_event and update_precip_record (declared in
// atmosphere_steps.h) in the time loop; the gauge kernels below work on plain arrays and are
// unit-tested alone.
#pragma once

#include <span>

#include "framework/core/guarded_array.h"
#include "framework/core/raw_arrays.h"
#include "overland/overland_state.h"

// Length in seconds of the interval from one precipitation record to the next, from the Julian
// times of their dates (year, month, day, hour, minute), to the whole second: records days or
// months apart give their whole interval.
double precip_interval_seconds(const int* first, const int* next);

// Turns the values of a GAGES event (depth in mm that fell up to the next record) or an ACCUM
// event (cumulative depth in mm) into intensities in mm/h: the value of record k, k from 1 to
// record_count - 1, becomes the rain of the interval from record k to record k + 1 per hour of
// it; the last record keeps its value. values[g][k] for gauges 1..gauge_count, records[k].value
// the date of record k. Prints "WARNING: you have a long delta t in your precip file\n" once for
// each interval longer than a day. Two records at the same time leave no time to spread a depth
// over: nothing is converted and the number of the first of them is returned (0 when every
// interval has a length).
int precip_depths_to_rates(guarded_array2d<double>& values, int gauge_count, int record_count,
                           const rain_event_record* records, bool accumulated);

// Inverse-distance-squared weighting of the gauge values over every watershed cell of the grid
// (index_map[row][col] > 0). Cell centres lie at west + (col - 0.5) dx, north - (row - 0.5) dx.
// One gauge gives its value to every cell; otherwise the first gauge, in gauge order, that lies
// closer than dx to a cell centre gives the cell its value, and else the cell gets the sum of
// value / d^2 over the sum of 1 / d^2. gauge_x, gauge_y and values are per gauge
// 1..gauge_count (values: the record being applied, mm/h); rain_cell is per cell
// 1..rain_cell.size() - 1 (mm/h). Parallel over grid rows.
void precip_idw_parallel(double dx, const raw_array2d<int>& index_map, int gauge_count,
                         double north, double west, std::span<const double> gauge_x,
                         std::span<const double> gauge_y, std::span<const double> values,
                         std::span<double> rain_cell, int rows, int cols);

// Copies into every cell 1..cell_count the value of its nearest gauge (nearest[cell]), or of
// gauge 1 when the event has one gauge. Parallel over cells.
void gage_values_to_cells(int gauge_count, std::span<const int> nearest,
                          std::span<const double> values, std::span<double> rain_cell,
                          int cell_count);

// Fills nearest[cell] for every watershed cell with the gauge closest to its centre (strictly
// closer than those before it, so a tie keeps the lower gauge number). A cell whose nearest
// gauge lies beyond 900,000 map units is a failure: the worker that meets it searches none of
// its further cells. Returns the number of failures (0 when every cell found its gauge).
// Parallel over grid rows.
int find_neighbor_all(int gauge_count, const raw_array2d<int>& index_map,
                      std::span<const double> gauge_x, std::span<const double> gauge_y,
                      double north, double west, std::span<int> nearest, double dx, int rows,
                      int cols);
