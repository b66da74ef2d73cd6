// Sediment-bound constituents on the overland plane: the view the overland sediment step carries
// the bound mass with (erosion takes it from the soil's sorbed store, every move of suspended
// sediment between cells or out through the outlet takes its share of the bound mass along,
// settling gives it back to the soil), and the linear equilibrium partitioning between the
// dissolved and the bound phase that the overland constituent transport step applies after it
// has moved the dissolved mass.
#pragma once

struct model_state;

// What the sediment step needs to carry the bound mass; built from the model state by
// sed_contam_payload (inactive when bound is null).
struct bound_payload {
  int constituents = 0;
  int classes = 0;
  const int* sand = nullptr;              // per class: 1 sand (never carries bound mass)
  double*** bound = nullptr;              // [constituent][cell][class] (g)
  double** eroded = nullptr;              // [constituent][cell]: run totals (g)
  double** deposited = nullptr;           // [constituent][cell]: run totals (g)
  double* outlet = nullptr;               // per constituent: run total (g)
  double** const* soil = nullptr;         // per constituent: soil_mass plane [cell][layer] (g)
  double** land = nullptr;                // [constituent][cell]: land store, kept equal to layer 1
  double** soil_kd = nullptr;             // [constituent][cell]: soil partition coefficient (L/kg)
  double** theta = nullptr;               // [cell][layer]: water content of the soil layer
  const double* porosity = nullptr;       // per cell
  double* const* const* fract = nullptr;  // [cell][class][slot]: sed_fract (slot 1 the soil's)
  double layer_thickness = 0.0;           // m: the soil layer erosion takes from
  // The layered soil: per cell its carrier layers' thicknesses (m) and porosities [cell][layer];
  // erosion takes from carrier layer 1 of the cell instead (null with the single-layer soil).
  double** carrier_thickness = nullptr;
  double** carrier_porosity = nullptr;
  double area = 0.0;  // m2 of a cell
  // Channel lakes: per constituent the chan_bound plane [row][fine position] whose rows
  // lake_row0 + lake hold the lakes' bound mass (null: the channels carry none, and what enters
  // a lake is booked in untracked), the fine position of each class, and the run totals.
  double** const* lake_bound = nullptr;
  long lake_row0 = 0;
  const int* fine_position = nullptr;
  double* to_lakes = nullptr;   // per constituent (g)
  double* untracked = nullptr;  // per constituent (g): handed to channels that carry nothing
  // Overland lakes: per constituent the [lake][class] bound table, and the run totals.
  double** const* olake_bound = nullptr;
  double* to_olakes = nullptr;      // per constituent (g)
  double* olake_settled = nullptr;  // per constituent (g)
};

// Erosion of one cell: every fine class's eroded volume eroded_volume[k] (m3) takes from the
// soil layer's sorbed mass its share, the sorbed mass over the volume of the layer's fine
// solids, into the class's bound mass; never more than the layer's sorbed mass in all.
void bound_pickup(const bound_payload& p, int cell, const double* eroded_volume);

// A share (0..1) of the suspended sediment of class k moved from the giver to the receiver
// (receiver 0: out through the outlet): the same share of the giver's bound mass goes along.
void bound_move(const bound_payload& p, int giver, int receiver, int k, double share);

// A share (0..1) of the giver's suspended sediment of class k carried into channel lake `lake`
// (its wash load) or into overland lake `lake`: the same share of the bound mass goes along.
void bound_into_lake(const bound_payload& p, int giver, int lake, int k, double share);
void bound_into_olake(const bound_payload& p, int giver, int lake, int k, double share);

// A share (0..1) of a lake's suspended sediment of class k carried by its water onto cell
// receiver (0: out through the outlet): the same share of the lake's bound mass goes along.
void bound_from_lake(const bound_payload& p, int lake, int receiver, int k, double share);
void bound_from_olake(const bound_payload& p, int lake, int receiver, int k, double share);

// A share (0..1) of an overland lake's suspended sediment of class k settled onto its bed: the
// same share of the bound mass goes to the bed, booked in olake_settled.
void bound_settle_olake(const bound_payload& p, int lake, int k, double share);

// A share (0..1) of the suspended sediment of class k settled on the cell: the same share of
// the bound mass goes back to the soil layer.
void bound_settle(const bound_payload& p, int cell, int k, double share);

// Linear equilibrium partitioning of one cell's constituent between the water and the fine
// suspended sediment: with K = kd / 1,000,000 (kd in L/kg) and the sediment concentration Ck =
// particle_density[k] x volume[k][slot] / water (g/m3) of each fine class (volumes in m3, water
// in m3), the total of the dissolved
// mass and the bound masses is shared as dissolved 1 / (1 + S) and bound on class k K Ck / (1 + S),
// S the sum of K Ck over the fine classes. A cell with water of 1e-16 m3 or less is left as it
// is. Returns the new dissolved mass; bound[k] are overwritten.
double partition_cell(double kd, int classes, const int* sand, const double* particle_density,
                      const double* const* volume, int slot, double water, double dissolved,
                      double* bound);

// The payload of the run, or an inactive one without sediment-bound constituents.
bound_payload sed_contam_payload(model_state& ms);

// Start-up: the bound tables, once the sediment and the constituents are set up.
void sed_contam_init(model_state& ms);

// After the dissolved mass has moved: every wet cell's constituents are shared again between
// the water and its suspended fine sediment.
void sed_contam_partition(model_state& ms);

// After the channel lakes' constituents are routed: each lake's constituent c is shared between
// its water and its wash load (water_soil_partition_coef). Returns what the bound phase gave
// the lakes' water (g, negative: took from it).
double sed_contam_partition_lakes(model_state& ms, int c);

// After the overland lakes' constituents are updated: the same for each overland lake and its
// fine suspended sediment. Books what the bound phase gave the lakes' water.
void sed_contam_partition_olakes(model_state& ms, int c);
