// Break-point cross-sections: surveyed sections of X/Z pairs turned into depth tables (flow
// area, top width, conveyance and wetted perimeter at equally spaced levels), tables of the
// nodes between two sections, erodible per-node tables and the bed update of erodible links.
// The channel input reader builds the tables at start-up; the bed update runs after channel
// sediment transport has changed the bed volumes.
#pragma once

#include <vector>

#include "framework/core/link_node_array.h"

struct model_state;

// One section of a break-point link as the channel input file gives it.
struct breakpoint_section {
  int node = 0;           // node that carries the section (its NPAIRS card)
  int npairs = 0;         // pairs announced by NPAIRS
  int num_interp = 0;     // NUM_INTERP: levels of its depth table
  std::vector<double> x;  // station across the channel of pairs 0..npairs-1 (m)
  std::vector<double> z;  // bed elevation of the same pairs (m)
};

// Largest number of wet stretches ("islands") a section may have at one level.
inline constexpr int max_section_islands = 50;

// Levels of one depth table, level k at index k (k = 1..levels; index 0 is the empty channel).
struct depth_table_levels {
  double* area = nullptr;       // flow area (m2)
  double* top_width = nullptr;  // top width (m)
  double* conv = nullptr;       // conveyance A R^(2/3) / n
  double* perim = nullptr;      // wetted perimeter (m)
};

// Builds the depth table of one section: levels 1..num_interp at the water levels zmin + k h,
// h = (zmax - zmin) / num_interp. `table` and `link` name the table in the messages; `at_startup`
// puts the two newlines of the start-up reader before the jagged-section message. Returns 0 and
// the spacing in `spacing`; after a fault (interpolation count, spacing, too many islands) it
// prints the message, reports code 4000 and returns 1.
int section_depth_table(const double* x, const double* z, int pairs, int num_interp, double inv_n,
                        int table, int link, bool at_startup, double& spacing,
                        const depth_table_levels& out);

// The value of a depth table at depth d (table spacing h, levels 1..n in values[1..n]): below h
// the share d / h of level 1, above n h the top interval extended, else linear between levels.
double depth_table_lookup(const double* values, double h, int n, double d);

// Turns the sections of break-point link `link` (one or two; with more, the first and the last)
// into depth tables numbered from ms.channel.num_xsec_tables + 1 on and sets table_num of every
// node 1..nx1 of the link. An erodible link gets one table per node from its first section,
// resampled to equally spaced stations and kept per node in xbp_lnn and ybp_lnn. Returns 0, or 1
// after a fault that has been reported.
int read_breakpoint_xsecs(model_state& ms, int link, std::vector<breakpoint_section>& sections);

// Rebuilds the depth table of node `node` of erodible link `link` from the node's own section
// (xbp_lnn, ybp_lnn). Returns 0, or 1 after a reported fault.
int breakpoint_xsec_tables(model_state& ms, int link, int node);

// Bed update of the erodible break-point links after channel sediment transport:
// `bed_volume_change`(link, node) is the node's reference bed sediment volume minus its current
// one (m3), `porosity` the sediment porosity. Every node's section is lowered (or raised) where
// it lies under its highest water level so that the bed loses (or gains) that volume over the
// link's node spacing; new_bel follows the lowest point. With `bed_adjust` on the new sections
// replace the old, bel takes new_bel and the tables are rebuilt. Faults are reported at once.
void xsec_update(model_state& ms, const link_node_array<double>& bed_volume_change, double porosity,
                 int bed_adjust);
