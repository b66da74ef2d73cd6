// Cell kernels of the overland constituents' sources: the rain load and the infiltration mass
// that overland_contam_processes gathers in each cell, and the net source of the transport step
// that overland_contam_mass_update builds from what the processes gathered (each gathering
// pro-rated to the transport step and applied to the cell's mass without taking it below zero,
// the rest waiting in the accumulator). Each comes as a vector kernel (Highway, the best
// instruction set the processor runs) and a scalar one with the same arithmetic in the same
// order, whose sums add the cells one by one in cell order, so every instruction set gives the
// same bits.
#pragma once

// The arrays of one constituent's net sources over a step of dt seconds, per cell.
struct ov_source_view {
  double dt = 0.0;                // s: the transport step
  double kinetics_elapsed = 0.0;  // s: what the exchange and the decay gathered over
  double infil_elapsed = 0.0;     // s: what the infiltration gathered over
  bool soil = false;              // soil transport: the soil column books uptake and infiltration
  bool table_terms = false;       // decay: a constituent of the table
  bool exchange_terms = false;    // uptake: a constituent of the table or a nutrient species
  const double* mass = nullptr;   // g: the cells' masses, left as they are
  const double* conc = nullptr;   // g/m3
  // The copies the passes work on, or null when they work on the cells' values themselves.
  double* work_mass = nullptr;
  double* work_conc = nullptr;
  double* precip_acc = nullptr;    // g: the rain load, booked and emptied
  double* exchange_acc = nullptr;  // g: soil to water
  double* decay_acc = nullptr;     // g
  double* infil_acc = nullptr;     // g
  double* soil_uptake = nullptr;   // g, with soil transport
  double* soil_infil = nullptr;    // g, with soil transport
  double* source = nullptr;        // g/s, out: (mass after the terms - mass) / dt
};

// What a range of cells applied of each process (g), each summed cell by cell in cell order.
struct ov_source_applied {
  double precip = 0.0;
  double uptake = 0.0;
  double decay = 0.0;
  double infil = 0.0;
};

// The net sources of cells first..last and what they applied.
ov_source_applied ov_sources_scalar(const ov_source_view& v, int first, int last);
ov_source_applied ov_sources_wide(const ov_source_view& v, int first, int last);

// What the rain load and the infiltration mass of one constituent need of the cells.
struct ov_rain_infil_view {
  const double* rain = nullptr;  // mm/h falling on each cell
  double pc = 0.0;               // g/m3 in the rain
  double area = 0.0;             // m2
  double rain_dt = 0.0;          // s of rain since the last run
  double* mass = nullptr;        // g
  double* conc = nullptr;        // g/m3
  double* rain_acc = nullptr;    // g: the rain load, for the books
  const double* prev = nullptr;  // m: depth at the end of the last transport step
  // Per cell, or null: a cell whose flag is above 0 lies under a lake, which takes its rain.
  const int* lake_cell = nullptr;
  const int* olake_cell = nullptr;
  bool soil = false;              // soil transport: a dried cell's mass goes to soil_infil
  double* infil_acc = nullptr;    // g: carried down by infiltration
  double* soil_infil = nullptr;   // g, with soil transport
  const double* water = nullptr;  // m3: infiltrated since the last run, per cell (the grid's)
  const double* depth = nullptr;  // m: overland depth now
};

// The rain load and the infiltration mass of cells first..last. With `raining`, the rain of the
// elapsed rain_dt seconds brings its concentration's mass into the water of every cell not under
// a lake at once, and the cell's concentration follows over the depth the rain made of the last
// step's. Then a cell that has just dried (mass and infiltrated water above 1e-16, depth below)
// gives its whole mass to the soil, any other gathers its concentration times the water it
// infiltrated, `block_water`[cell - first] (m3). Returns the mass the dried cells gave (g),
// summed in cell order.
double ov_rain_infil_scalar(const ov_rain_infil_view& r, bool raining, int first, int last,
                            const double* block_water);
double ov_rain_infil_wide(const ov_rain_infil_view& r, bool raining, int first, int last,
                          const double* block_water);
