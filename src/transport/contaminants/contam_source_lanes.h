// The net source of the overland constituent transport step in each cell, built from what the
// overland processes gathered: each gathering is pro-rated to the transport step and applied to
// the cell's mass without taking it below zero, the rest waiting in the accumulator. Called by
// overland_contam_mass_update, or by the overland processes' sweep when nothing comes between.
// Comes as a vector kernel (Highway, the best instruction set the processor runs) and a scalar
// one with the same arithmetic in the same order, whose sums add the cells one by one in cell
// order, so every instruction set gives the same bits.
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
