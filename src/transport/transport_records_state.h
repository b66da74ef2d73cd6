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
  char output_name[9][1024] = {};  // names of the nine sediment outputs
  file_handle output_file[6];      // the six sediment output files

  sediment_member() = default;
  sediment_member(const sediment_member&) = delete;
  sediment_member& operator=(const sediment_member&) = delete;
  // Closes the six sediment output files, the last declared first.
  ~sediment_member();
};

// The run's overland sediment object: built by the overland sediment set-up, owned through
// transport_state::ov_sed and freed with the model state.
struct ov_sediment_obj {
  int num_sed_classes = 0;                  // sediment classes 1..num_sed_classes
  guarded_array<file_handle> output_files;  // overland sediment output files, 1..classes
  raw_array1d<double> spec_grav;            // per class: specific gravity
  raw_array1d<double> part_diam;            // per class: particle diameter (mm)
  raw_array1d<double> f_bind;               // per class: fraction bound to contaminants
  raw_array1d<double> splash_K;             // per cell: splash erodibility
  raw_array1d<double> detach_coef;          // per cell: detachment coefficient
  raw_array1d<double> detach_exp;           // per cell: detachment exponent
  raw_array1d<double> detach_crit;          // per cell: critical shear for detachment (Pa)
  raw_array1d<double> sed_K;                // per cell: sediment erodibility
  raw_array3d<double> sed_fract;            // [cell][class][slot 0..4]: see sed_fract_soil_slot
  raw_array3d<double> vol_sed;              // [cell][class][slot 1..4] (m3): 1 change of the
                                            // parent soil (negative when eroded), 2 suspended,
                                            // 3 loose deposit, 4 routed out through the outlet
  raw_array2d<double> qsx;                  // [cell][class]: sediment flux in x (m3/s)
  raw_array2d<double> qsy;                  // [cell][class]: sediment flux in y (m3/s)
  raw_array1d<double> ov_qsmax_total;       // per cell: transport capacity, all classes (m3/s)
  raw_array2d<double> ov_qsmax;             // [cell][class]: transport capacity (m3/s)
  raw_array2d<double> ov_qsvol;             // [cell][class]: sediment volume moved (m3)
  raw_array2d<double> ov_qsconc;            // [cell][class]: sediment concentration
  raw_array2d<double> ov_conc;              // [cell][class]: concentration in the flow
  raw_array1d<double> tot_sed;              // per cell: total sediment (m3)
  raw_array1d<double> ov_net_sed;           // per cell: net erosion (-) or deposition (+) (m3)
  raw_array1d<int> sed_class;               // per cell: dominant sediment class

  // Per class 1..num_sed_classes: output file name (element 0 empty).
  std::vector<std::string> output_filename;
};

struct soil_layer_work {
  guarded_array2d<double> layer_values;  // [layer][constituent] of the soil column being moved
  int layer_index = -1;                  // layer the soil-column routine works on; -1 none
  guarded_array<double> layer_depth;     // per layer: depth (cm)
  guarded_array<double> layer_flux;      // per layer: water flux (cm)
};
