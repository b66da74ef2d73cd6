// Sacramento soil-moisture accounting as the other subsystems see it: the channel set-up gives
// the channel nodes their shares of the basin's inflow, the channel step hands it to them, and
// the water books take the basin's water. The time-loop step sacramento_step is declared in
// subsurface_steps.h.
#pragma once

struct model_state;

// Channel set-up: each channel cell's normalised index and each grid-stream entry's share of
// the basin's channel inflow (by the length of channel in the cell and the cell's index). A
// table that cannot carry the inflow stops the run with its message.
void init_sacramento_weights(model_state& ms);

// Channel step: gives the channel nodes this step's part (dt seconds) of the basin's inflow,
// adding it to their lateral inflow by the entries' weights; returns the volume given (m3).
double sacramento_channel_inflow(model_state& ms, double dt);

// Overland step of a run without channels: the basin's outflow leaves the watershed at its
// outlet; returns this step's part (dt seconds) of it (m3).
double sacramento_outlet_outflow(model_state& ms, double dt);

// Water of the basin (m3): the five stores, the depth infiltrated since the last step and the
// channel inflow computed but not yet given to the nodes.
double sacramento_storage_volume(const model_state& ms);
// The last two alone (m3).
double sacramento_water_in_transit(const model_state& ms);
