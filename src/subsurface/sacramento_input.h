// The card keywords of the Sacramento parameter file (read by read_sacramento_input, declared
// in subsurface_steps.h).
#pragma once

#include <string>

// The code of the line's first token, without regard to case: 0 the header keyword, 1 to 11
// the capacities and rates (uztwm ... pfree), 12 to 16 the starting fractions (uztwc ...
// lzfpc), 17 num_basins, 18 basin, 19 saved, 20 anything else or an empty line. The token is
// removed from the line.
int sacramento_card_code(std::string& line);
