// The aquifer under a soil of zones (Green and Ampt with redistribution, or the layered soil):
// the water an aquifer cell holds as a function of its head, through the soil layers its table
// rises into and the unsaturated zone it leaves below the soil as it falls, and the
// reconciliation of the soil's wetted zone with the table after each groundwater solve. Called
// by groundwater_step.
#pragma once

// Storage of one aquifer cell, per unit area, as a function of the head: piecewise linear in
// the head, rising from the aquifer bottom through segments of constant storage coefficient.
// Below the soil the aquifer keeps the water the unsaturated zone holds behind a falling table
// (`retained`, the content left between the table and the foot of the soil), so the water
// there moves by the porosity less that content; inside the soil the table fills the pores of
// the layer it is in; above the ground it stands as open water.
struct gw_storage_profile {
  double bottom = 0.0;   // aquifer bottom (m)
  double base = 0.0;     // water held at a head at the bottom (m): the retained water below
                         // the soil
  int count = 0;         // segments 0..count-1; the last runs on without end
  double top[4] = {};    // upper elevation of each segment but the last (m)
  double slope[4] = {};  // storage coefficient of each segment (-)
};

// Water per unit area at head h (m); below the bottom the lowest segment goes on.
double gw_profile_water(const gw_storage_profile& p, double h);
// The head at which the cell holds `water` per unit area (the inverse of gw_profile_water).
double gw_profile_head(const gw_storage_profile& p, double water);
// Storage coefficient the profile gives a table at h that moves from there: the segment that h
// lies in, a head on a segment's top taking the segment above.
double gw_profile_slope(const gw_storage_profile& p, double h);

struct model_state;

// True when the aquifer lies under a soil of zones: groundwater with the redistribution or the
// layered soil.
bool gw_soil_zone_on(const model_state& ms);
// The storage profile of cell c: the soil depth (both layers of the layered soil, the soil
// moisture depth of the redistribution soil), the porosities of its layers, the retained
// content below it. A coefficient that is not above 0 takes the aquifer's porosity, as the
// solve does.
gw_storage_profile gw_cell_profile(const model_state& ms, int c);
// After the solve: every cell the solve moved places its head where its profile holds the water
// the solve stored (the storage coefficient of the step times the head change), so that a table
// that crossed from one layer into another within the step holds exactly that water.
void gw_place_heads(model_state& ms);
// After the solve and the booking of the recharge: the soil's wetted zone of every moving cell
// reaches down to the table (no deeper than the soil). A table that rose shortens the zone, which
// keeps its water; a table that fell lengthens it, filled at field capacity with water taken
// from the recharge the next step gives the aquifer. A zone then above its porosity gives the
// excess to that recharge, one below its residual content takes the shortfall from it. A table at
// the ground saturates the soil: the zone's water goes to that recharge and the zone is emptied.
void gw_reconcile_soil_zone(model_state& ms);
