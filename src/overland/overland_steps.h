// Steps of the overland subsystem that the run driver calls: cell connectivity and slopes at
// start-up, and precipitation, rainfall, point sources, overland routing and overland lakes in
// the time loop. Each time-loop step decides itself whether its process is due.
#pragma once

struct model_state;

void build_cell_connectivity(model_state& ms);       // start-up
void compute_overland_slopes(model_state& ms);       // start-up
void start_precip_event(model_state& ms);            // time loop 2
void update_precip_record(model_state& ms);          // time loop 4
void apply_rainfall(model_state& ms);                // time loop 5
void apply_overland_point_sources(model_state& ms);  // time loop 6
void overland_flow_step(model_state& ms);            // time loop 12
void overland_lake_step(model_state& ms);            // time loop 18
