// Contaminant transport table: the per-contaminant sub-tables of the mapping-table file, each
// with its name, index map, output file, precipitation concentration, partition coefficient and
// eight per-cell parameters. Called by the overland contaminant set-up of read_maps.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "framework/core/guarded_array.h"

struct model_state;

// The eight per-contaminant, per-cell parameter arrays ([contaminant][cell]); a null entry
// leaves its value column out.
using contam_columns = std::array<guarded_array2d<double>*, 8>;

// Longest description, index-map name and output name of a contaminant line.
inline constexpr int max_contam_name = 300;

// Reads the CONTAMINANT_TRANSPORT table (table_id 11) of `file_name`: the NUM_CONTAM count into
// contam_count and, per contaminant i = 1..count, its description and output name
// (descriptions[i], output_names[i]; element 0 empty), its precipitation concentration
// (precip_conc[i]) and partition coefficient (partition_coef[i]), and its eight value columns
// into row i of each given parameter array (cell_count + 1 elements per row): a cell whose id
// has no row of its own reads 0.0, a cell of id 0 keeps what its row held. The two
// coefficient arrays grow by the count, each parameter array by count rows. The index map's
// header goes to map_north..map_cols of the model state. Returns 1 when every contaminant was
// read; 0 for a file that does not begin with the mapping-table magic word (nothing reported),
// or after a reported fault (the file or an index map not open, err_contaminant_tables_unreadable,
// the index-map codes, or 4000 after a message of its own naming the file and the table).
int read_contam_table(model_state& ms, const char* file_name, int table_id,
                      const contam_columns& parameters, guarded_array<double>& precip_conc,
                      guarded_array<double>& partition_coef, int& contam_count,
                      std::vector<std::string>& descriptions,
                      std::vector<std::string>& output_names);
