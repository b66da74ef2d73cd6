// Seepage through the beds of channel lakes: once per channel step every cell of a lake with a
// bed thickness (MLAKE) passes water between its lake and the ground beneath, by the bed's law,
// never more than the lake holds. Called by the channel routing step before the lakes' extents
// follow their volumes.
#pragma once

struct model_state;

// The lake-bed conductivity of a cell (m/s): the aquifer's when groundwater is simulated, else
// the soil's saturated conductivity; 0 where neither is held.
double lake_bed_conductivity(const model_state& ms, int cell);

// Water a lake's cells pass through their beds: `asked` (m3 per cell, positive into the lake)
// taken as far as the lake holds. The losses are cut back in one proportion when together with
// the gains they would take more than `volume` (m3); returns that proportion (1 when nothing
// is cut).
double lake_bed_share(double volume, double gained, double lost);

// Moves dt seconds of lake-bed seepage: the lakes' volumes and their inflow and outflow books,
// the aquifer's waiting volumes (groundwater simulated) and the run's and the event's totals of
// water between lakes and groundwater.
void lake_bed_seepage_step(model_state& ms, double dt);
