// Long-term weather: the member record of the run's model_state that holds the current hourly
// hydrometeorological record, the weather file's reading state, the per-cell surface energy
// balance and potential evapotranspiration, and the frozen-ground index. Data only.
#pragma once

#include "framework/core/raw_arrays.h"

// Reading state of the hydrometeorological file, kept for the run.
struct hmet_reader_state {
  int line = 0;        // lines read from the file so far
  int data_reads = 0;  // records returned since the scan
  int scanned = 0;     // the scan ran and the file was rewound
  // Last good values: one per hour of the day, or one for the whole file.
  double good_direct[24] = {};  // direct radiation
  double good_global[24] = {};  // global radiation
  double good_rh[24] = {};      // relative humidity (%)
  double good_temp[24] = {};    // air temperature, as in the file
  double good_pressure = -1.0;  // pressure as in the file, -1 none yet
  double good_sky = 0.0;        // sky cover as in the file
  double good_wind = 0.0;       // wind speed as in the file
  // Surface Airways: the current day's values per element and hour, and the next day's first
  // line held back.
  int day_date[3] = {};          // year, month, day of the loaded day
  int day_hour = 24;             // hour of the next record in the loaded day (24: load)
  int day_has_direct = 0;        // the day had a DR line
  int day_has_global = 0;        // the day had a GR line
  double day_direct[24] = {};    // DR/10
  double day_global[24] = {};    // GR/10
  double day_pressure[24] = {};  // millibars
  double day_rh[24] = {};        // %
  double day_temp[24] = {};      // degrees Celsius
  double day_sky[24] = {};       // tenths
  double day_wind[24] = {};      // m/s
  char held_line[832] = {};      // first line of the next day, empty when none
  int held_line_number = 0;      // its line number
  int at_end = 0;                // the file has no more lines
};

struct weather_state {
  // The current hourly record (hmet values).
  int year = 0, month = 0, day = 0, hour = 0;  // date and hour of the current record
  int record_count = 0;                        // hourly records of the file (from the scan)
  int record_counter = 1;     // 1 before the first record; +1 after each hydromet step
  double direct_rad = 0.0;    // direct radiation, as in the file
  double global_rad = 0.0;    // global radiation (W/m2)
  double sky_cover = 0.0;     // tenths
  double air_temp = 0.0;      // degrees Celsius
  double rel_humidity = 0.0;  // %
  double pressure = 0.0;      // millibars
  double wind_speed = 0.0;    // m/s
  double station_lat = 0.0;   // degrees (SAMSON header)
  double station_lon = 0.0;   // degrees (SAMSON header)
  int data_ended = 0;         // the weather data ran out
  hmet_reader_state reader;   // the file's reading state

  // Per cell 1..cell_count, allocated for long-term runs.
  raw_array1d<double> surface_temp;      // K: surface temperature of the energy balance
  raw_array1d<double> balance_residual;  // kW/m2: energy balance residual of the last pass
  raw_array1d<double> pet_rate;          // cm/s: potential evapotranspiration rate
  raw_array1d<double> cfgi;              // frozen-ground index (degree-days)
  raw_array1d<double> melt_depth;        // m: snowmelt of the last melt call

  // Totals.
  double snow_vol_initial = 0.0;    // m3: snow water at the run start
  double snowmelt_total = 0.0;      // m3: snow melted onto the cells in the run
  double lake_evap_total = 0.0;     // m3: evaporation of the channel lakes in the run
  double et_volume_hour_ago = 0.0;  // m3: soil evapotranspiration total at the last report
  int newton_capped_cells = 0;      // cells whose energy balance stopped at the pass cap
  int nan_ra = 0;                   // an aerodynamic resistance was not a number
};
