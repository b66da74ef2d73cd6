// End-of-event accounting: the event's books are opened at its first step and closed at the
// step after its end, when the summary, the optimisation line and the result holder get the
// event's values.
#pragma once

struct model_state;

// Final basin-average soil water content (fraction of the pore space) of the infiltration
// scheme: with redistribution the mean of surface moisture / porosity; with layered soil the
// upper zone's water over the wetted part of layer 1 and its porosity; with Richards columns
// (long-term runs) the mean saturation down to the soil-moisture depth; else 0.
double final_basin_theta(const model_state& ms);

// Overland water of every cell (m3), an overland-lake cell counting its lake's depth over it;
// cells of perennial lakes count nothing.
double overland_store(const model_state& ms);
// Channel water of the routed links: flow area times node spacing over their nodes (m3).
double channel_store(const model_state& ms);

// The final constituent masses (kg) of the stores the run simulates: overland, land surface and
// soil layers (overland transport), channels (channel transport, explicit channel routing) and
// perennial lakes (channel transport). GLOBAL_MASS_FINAL gathers the overland and channel masses
// (cleared first by the overland books, or by the channel books when `clear_global` is set) and,
// at the end of the run, the lake masses (`into_global`: cleared first, then the lakes added).
void close_overland_constituents(model_state& ms);
// The event's sediment books (soil erosion on): each class's eroded, suspended, deposited and
// outlet volumes summed over the cells (with channel lakes, lake cells only for the classes
// whose lake flag is set) and, with channel sediment, the sand in the beds and the wash load in
// suspension of the links that are neither lakes nor structures.
void close_sediment_books(model_state& ms);
void close_channel_constituents(model_state& ms, bool clear_global);
void close_lake_constituents(model_state& ms, bool into_global);
