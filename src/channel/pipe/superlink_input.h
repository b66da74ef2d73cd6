// Readers of the pipe network: the superlink network file (superjunctions, superlinks, their
// nodes and pipes), the grid-pipe file that lays tile drains into grid cells, the division of
// the pipes into computational segments, and the ties of the network's outlets to
// channel nodes. Called at start-up by the tile-pipe grid set-up and by the input driver.
#pragma once

#include <string>
#include <vector>

// The card of a grid-pipe line: 0 PIPECELLS, 1 CELLIJ, 2 NUMPIPES, 3 SPIPE, 4 anything else or
// an empty line (the word compared without regard to case). Leading blanks, tabs and newlines
// and the word are removed from the line, so the numbers that follow are left.
int grid_pipe_card_code(std::string& line);

// The computational segments of one pipe of `length` metres, in order from its upstream
// end: symmetric about the middle and growing from both ends in stages of 10, 20, 50 and 100 m
// (a pipe of 10 m or less is one segment). The lengths add up to the pipe's.
std::vector<double> pipe_segment_lengths(double length);
