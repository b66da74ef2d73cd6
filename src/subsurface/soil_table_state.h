// Parameters of one soil type: fifty values grouped by parameter, layers 1 to 3 in consecutive
// slots. The soil-table readers fill them; infiltration and the soil-column set-ups read them.
#pragma once

struct soil_table_record {
  double layer_capillary_head[3] = {};  // cm
  double spare_a = 0.0;
  double layer_hyd_cond[3] = {};           // cm/h
  double layer_porosity[3] = {};           // fraction
  double layer_init_moisture[3] = {};      // fraction
  double layer_wilting_point[3] = {};      // fraction
  double layer_field_capacity[3] = {};     // fraction
  double layer_residual_moisture[3] = {};  // fraction
  double layer_depth[3] = {};              // cm
  double layer_pore_index[3] = {};         // -
  double layer_bubbling_pressure[3] = {};  // cm
  double layer_node_spacing[3] = {};       // cm
  double layer_hav_alpha[3] = {};          // Havercamp alpha
  double layer_hav_beta[3] = {};           // Havercamp beta
  double layer_hav_a[3] = {};              // Havercamp A
  double layer_hav_b[3] = {};              // Havercamp B
  double spare_b[4] = {};
};
static_assert(sizeof(soil_table_record) == 50 * sizeof(double), "fifty slots per soil type");

// Soil types the table can hold: ids 0..max_soil_types-1.
inline constexpr int max_soil_types = 10000;
