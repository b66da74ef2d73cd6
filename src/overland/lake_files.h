// Lake and low-spot files: the overland lake file (starting water surface and volume of each
// lake of the lake map) and the low-spot file (crests where water passes over an embankment).
// The start-up readers read_lake_map and read_dike_mask (declared with the overland steps in
// overland_steps.h), called by the input-reading driver read_maps, read them.
#pragma once

#include <string>

#include "framework/core/raw_arrays.h"
#include "overland/overland_state.h"

struct file_handle;

// 0 when the first word of `line` (up to a blank, tab or newline), lower-cased, is "lake", else
// 1 (a blank line gives 1). The first word is removed from the line either way, so that the
// values of the card follow.
int is_lake_card(std::string& line);
// The same for "spot".
int is_spot_card(std::string& line);

// Reads the open overland lake file: a TORVA_OVERLAND_LAKE_FILE line, then one LAKE card (lake
// id, elevation, volume) per lake. Lake `id` fills lakes[id]: surface_elev and card_elev take
// the elevation, volume the volume. `expected` is the largest lake id of the lake map, which
// is also the number of LAKE cards the file must hold; `lakes` holds slots 0..expected. Every
// failure prints its lines on the error stream, sets code 4000 and reports it at once.
void read_lake_file(file_handle& h, int expected, raw_array1d<lake_record>& lakes);

// Reads the open low-spot file `name`: a LOWSPOT line, then one SPOT card (row, col, side,
// fraction, elevation) per low spot. Allocates `records` with count + 1 zeroed slots, fills
// slots 1..count in file order and sets `count`. The values are checked against the grid and
// the embankments by check_lowspot_cells and the cell-connectivity set-up. Every failure
// prints its lines on the error stream, sets code 4000 and reports it at once.
void read_lowspot_file(file_handle& h, const char* name, int& count,
                       raw_array1d<lowspot_record>& records);

// True when every low spot 1..count lies on the grid (row 1..rows, col 1..cols); otherwise
// prints which one does not, naming the low-spot file, and returns false.
bool check_lowspot_cells(const raw_array1d<lowspot_record>& records, int count, int rows, int cols,
                         const char* name);
