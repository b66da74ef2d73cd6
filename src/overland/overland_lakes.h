// Overland lake extent: once per pass of the time loop, after groundwater, the overland lake
// step hands each lake the volume change its cells collected (rain on the lake, overland flow
// across its shore, embankment flow) and olake_extent moves the lake's flat water surface,
// taking in neighbouring cells as it rises and giving back the cells it took as it falls.
#pragma once

#include "overland/overland_lake_state.h"
#include "overland/overland_state.h"

struct model_state;

// Sorts keys[1..n] ascending and carries items[1..n] along (quicksort with insertion sort of
// short runs). False, after its message and code 4000, when its partition stack overflows.
bool sort2(int n, double* keys, int* items);

// The grid as the lake extent sees it. Per-cell arrays are one-based, 1..cell_count.
struct olake_grid_view {
  int cell_count = 0;
  double dx = 0.0;                     // m
  const double* z = nullptr;           // ground elevation (m)
  double* h = nullptr;                 // overland depth (m): a cell taken in gives its water
  const int* above = nullptr;          // neighbour above, 0 none
  const int* right = nullptr;          // right neighbour, 0 none
  const int* below = nullptr;          // neighbour below, 0 none
  const int* left = nullptr;           // left neighbour, 0 none
  const int* initial = nullptr;        // lake id of the cell in the lake map, 0 none
  int* lake_of_cell = nullptr;         // current lake id of the cell, 0 none
  int outlet = 0;                      // the outlet cell, where overland water leaves; 0 none
  const int* boundary_type = nullptr;  // per cell: overland boundary type (0 none), or no array
  int dikes_on = 0;                    // dike_mask closes sides
  const int* dike_mask = nullptr;      // side bits (1 top, 2 right, 4 bottom, 8 left) of dikes
};

// Moves the surface of every lake 1..lake_count by its collected change rain_volume (m3), with
// what an earlier step held back as too small to move it. A rising lake floods the cells that
// connect to it, in the order of their water surface, each with its water as its surface
// reaches them, but only cells of its pit: cells whose ground lies below the pit's fill level
// (the lowest level at which water runs off towards the outlet or a boundary cell). It rises no
// higher than that level, its rim; the rest goes as overland depth onto the lowest shore cell
// outside the pit. A falling lake gives back, highest ground first, the cells it took in that
// its new surface leaves dry. Adds to volume_in (changes and the water of flooded cells),
// books.olake_volume_out (falls and spills) and books.olake_balance_error. The work storage in
// books grows with the lake; false, after the message and code 4000, when it cannot, when a
// lake would fall below the surface it started from (card_elev), or when the sort fails.
bool olake_extent(const olake_grid_view& g, int lake_count, lake_record* lakes, double& volume_in,
                  overland_lake_books& books);

// Water of the overland lakes: the sum over every lake cell of (surface - ground) dx^2 (m3).
double olake_total_volume(const olake_grid_view& g, int lake_count, const lake_record* lakes);

// The time-loop step: when the lake map is on and the lakes took or gave water since their
// last update, updates the lakes' extent and clears their collected changes.
void overland_lake_step(model_state& ms);
