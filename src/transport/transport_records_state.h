// Records of the transport subsystem that live inside the run's model_state: the sediment
// options with their output files, the overland sediment object made on demand, and the work
// record of the soil-column constituent transport.
#pragma once

#include <string>
#include <vector>

#include "framework/core/file_handle.h"
#include "framework/core/guarded_array.h"
#include "framework/core/raw_arrays.h"

// Each sed_fract[cell][class] entry holds five doubles, slots 0..4: slot 1 the fraction of the
// cell's soil in the class (read from the erosion table), slots 2 and 3 the share of the class
// in the suspended and in the loosely deposited sediment (worked out by the overland sediment
// step).
inline constexpr int sed_fract_slot_count = 5;
inline constexpr int sed_fract_soil_slot = 1;

struct sediment_member {
  int soil_erosion = 0;  // overland erosion on
  int sed_flag_a = 0;    // sediment option flags set by the sediment set-up
  int sed_flag_b = 0;
  int adjust_channel_bed = 0;  // channel bed elevations follow erosion and deposition
  long long sed_total_a = 0;   // 64-bit counters of the sediment set-up
  long long sed_total_b = 0;
  int sed_option = 4;       // overland sediment transport option
  int num_sed_classes = 0;  // sediment size classes 1..num_sed_classes
  int sed_count_a = 0;
  int sed_count_b = 0;
  int sed_count_c = 0;
  int erosion_method = 0;          // transport-capacity form 1..6 of the overland step
  int sed_constituents = 1;        // 1: the overland sediment step runs; 2: classes as constituents
  double water_temp = 0.0;         // degrees Celsius (not below 0)
  double kin_viscosity = 0.0;      // m2/s: kinematic viscosity of the water
  double sand_size = 0.0;          // mm: classes at least this coarse are sand
  double sed_porosity = 0.0;       // porosity of the channel bed material
  int adjust_elev = 0;             // ground elevations follow net overland erosion and deposition
  char output_name[9][1024] = {};  // names of the nine sediment outputs
  file_handle output_file[6];      // the six sediment output files

  sediment_member() = default;
  sediment_member(const sediment_member&) = delete;
  sediment_member& operator=(const sediment_member&) = delete;
  // Closes the six sediment output files, the last declared first.
  ~sediment_member();
};

// The order in which the overland sediment step moves sediment from cell to cell when it shares
// the work among threads. Cells are grouped in tiles; every tile is worked through in cell order
// by one thread, and the tiles of one level touch no common cell, so a level's tiles run side by
// side and the result is the one of a single pass in cell order. Empty when not built (the step
// then makes its single pass).
struct sediment_sweep {
  int levels = 0;                // levels 1..levels, worked one after the other
  int tiles = 0;                 // tiles 1..tiles, level by level
  raw_array1d<int> level_start;  // per level 1..levels + 1: first tile of the level
  raw_array1d<int> tile_start;   // per tile 1..tiles + 1: first position of the tile in cells
  raw_array1d<int> cells;        // positions 1..cell_count: the cells, tile by tile
};

// The run's overland sediment object: built by the overland sediment set-up, owned through
// transport_state::ov_sed and freed with the model state. Class index 1..num_sed_classes, cell
// index 1..cell_count; where a class dimension holds a total it stands at index 0.
struct ov_sediment_obj {
  int num_sed_classes = 0;                  // sediment classes 1..num_sed_classes
  guarded_array<file_handle> output_files;  // overland sediment output files, 1..classes
  raw_array1d<double> spec_grav;            // per class: specific gravity
  raw_array1d<double> part_diam;            // per class: particle diameter (mm)
  raw_array1d<double> f_bind;               // per class: fraction bound to contaminants
  raw_array1d<double> settling_vel;         // per class: settling velocity in still water (m/s)
  raw_array1d<double> particle_density;     // per class: g/m3
  raw_array1d<int> sand;                    // per class: 1 sand, 0 fine (wash load)
  raw_array1d<double> class_log_diam;       // per class: log of the diameter in mm
  raw_array1d<double> class_log_step;       // per class k < n: log(diameter k / diameter k + 1)
  raw_array1d<int> sed_class;               // per position 1..classes: the fine classes in
                                            // table order, then the sand classes
  raw_array1d<double> splash_K;             // per cell: splash erodibility
  raw_array1d<double> detach_coef;          // per cell: detachment coefficient
  raw_array1d<double> detach_exp;           // per cell: detachment exponent
  raw_array1d<double> detach_crit;          // per cell: critical shear for detachment (Pa)
  raw_array1d<double> sed_K;                // per cell: sediment erodibility
  raw_array3d<double> sed_fract;            // [cell][class][slot 0..4]: see sed_fract_soil_slot
  raw_array3d<double> vol_sed;              // [cell][class 0..][slot 1..4] (m3): 1 change of the
                                            // parent soil (negative when eroded), 2 suspended,
                                            // 3 loose deposit, 4 routed out through the outlet
  raw_array1d<double> qsx;                  // per cell: last capacity toward the right (m3)
  raw_array1d<double> qsy;                  // per cell: last capacity toward the cell below (m3)
  raw_array1d<double> ov_qsmax_total;       // per cell: flux of all classes x 1e6 (flux map)
  raw_array2d<double> ov_qsmax;             // [cell][class 0..]: sediment flux out (m3/s)
  raw_array2d<double> ov_qsvol;             // [cell][class]: net deposit of the run (m3)
  raw_array2d<double> ov_qsconc;            // [cell][class 0..]: suspended volume (m3)
  raw_array1d<double> ov_conc;              // per cell: kept for the suspended output
  raw_array1d<double> ov_net_sed;           // per cell: net erosion (-) or deposition (+) (m3)
  raw_array2d<double> sed_vol_eroded;       // [cell][class 0..]: volume taken up in the step (m3)
  raw_array2d<double> sed_vol_deposited;    // [cell][class 0..]: volume settled in the step (m3)
  raw_array1d<int> channel_cells;           // per cell: nonzero when the cell holds a channel
  // Work arrays of the overland step, per cell: water-surface slopes toward the right and lower
  // neighbours and the cell's outflow (m3/s); per class the settled fraction of the step.
  raw_array1d<double> slope_x;
  raw_array1d<double> slope_y;
  raw_array1d<double> cell_discharge;
  raw_array1d<double> trap_fraction;
  // Work arrays of the water pass (sediment_lanes.h), per cell: the logarithms of the water terms
  // of capacity forms 3 and 4 (the cell's own flow, its right face, its lower face); per class
  // 1..num_sed_classes and cell the share of the suspension that settles in the step; per cell
  // the volume rain splash detaches in the step (m3).
  raw_array1d<double> log_water_cell;
  raw_array1d<double> log_water_x;
  raw_array1d<double> log_water_y;
  raw_array2d<double> settle_share;  // [class][cell]
  raw_array1d<double> splash_volume;
  double outlet_volume = 0.0;  // m3: sediment the last step routed out through the outlet cell
  int outlet_drains_y = 0;     // the outlet cell drained through its lower side in the last step
  sediment_sweep sweep;        // tiles of the cell-to-cell transport (built at set-up)

  // Per class 1..num_sed_classes: output file name (element 0 empty).
  std::vector<std::string> output_filename;
};

struct soil_layer_work {
  guarded_array2d<double> layer_values;  // [layer][constituent] of the soil column being moved
  int layer_index = -1;                  // layer the soil-column routine works on; -1 none
  guarded_array<double> layer_depth;     // per layer: depth (cm)
  guarded_array<double> layer_flux;      // per layer: water flux (cm)
};
