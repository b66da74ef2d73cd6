// Steps of the overland subsystem that the run driver calls: the dike and lake readers, cell
// connectivity and slopes at start-up, and point sources, overland routing and overland lakes in
// the time loop. Each time-loop step decides itself whether its process is due.
#pragma once

struct model_state;

void read_dike_mask(model_state& ms);                // start-up: DIKE_MAP and LOWSPOT_FILE
void read_lake_map(model_state& ms);                 // start-up: OVERLAND_LAKE_MAP, lake file
void build_cell_connectivity(model_state& ms);       // start-up
void compute_overland_slopes(model_state& ms);       // start-up
void apply_overland_point_sources(model_state& ms);  // time loop 6
void overland_flow_step(model_state& ms);            // time loop 12
void read_overland_pumps(model_state& ms);           // start-up, read_maps (overland_pumps.h)
void overland_lake_step(model_state& ms);            // time loop 18

// Water has appeared on the surface of a long-term run whose overland schedule had jumped ahead
// over a dry spell: the surface (and infiltration) schedules run again from this pass on.
void wake_surface_schedules(model_state& ms);
// The same, with the surface schedules due at `due` (a later pass) rather than at this pass.
void wake_surface_schedules_at(model_state& ms, double due);
