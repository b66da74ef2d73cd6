// Dissolved constituents in the overland lakes (OVERLAND_LAKE_MAP): each lake is one fully mixed
// store that starts with its cells' initial concentration over its starting water, takes what
// the overland water brings over its shores, the cells it floods and the rain on it, decays at
// its cells' decay coefficients, and gives its concentration to the water that leaves it over
// its shores or spills over its rim. Called by the overland constituent set-up and steps.
#pragma once

struct model_state;

// Creates the lake tables and fills every lake from the initial concentration of its cells'
// water (before the set-up empties the dry cells); nothing without overland lakes.
void init_olake_contaminants(model_state& ms);

// The overland lake that holds cell (1..cell_count), 0 for none or without carried lakes.
int olake_of_cell(const model_state& ms, int cell);

// The rain of dt seconds on the lake cells brings constituent c at the rain's concentration
// `pc` (g/m3) into their lakes; `rain` is the rain rate reaching the ground per cell (mm/h).
void olake_rain_load(model_state& ms, int c, double dt, double pc, const double* rain);

// Before constituent c moves: the water the lakes spilled over their rims since the last move
// takes the lake's concentration to the cells it went to.
void olake_spill(model_state& ms, int c);

// After constituent c moved over dt seconds: each lake applies what it was brought, decays and
// takes its concentration from its volume; a lake left negative is emptied and that booked.
void olake_update(model_state& ms, int c, double dt);

// After every constituent moved: the spilled water is taken.
void olake_spill_done(model_state& ms);
