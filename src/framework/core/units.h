// Unit conversions by name: the model keeps its clock in Julian days, its steps in seconds,
// rainfall intensities in mm/h and soil conductivities in cm/h, while the water moves in m and
// m/s. Dividing by a name converts the other way (seconds / seconds_per_day gives days).
#pragma once

inline constexpr double seconds_per_hour = 3600.0;
inline constexpr double seconds_per_day = 86400.0;
inline constexpr double minutes_per_day = 1440.0;
inline constexpr double cm_per_h_in_m_per_s = 360000.0;  // 1 m/s is 100 cm/m x 3600 s/h
inline constexpr double mm_per_h_in_m_per_s = 3.6e6;     // 1 m/s is 1000 mm/m x 3600 s/h
