// Aquatic environment file of the nutrient sub-model (AQ_ENV): a table of environment parameter
// sets, one per environment id, and the names of the overland and stream id maps. Read once,
// first in the nutrient start-up, by read_aquatic_env (transport_steps.h), which also reads the
// overland id map; the pieces below read one open file and are tested alone.
#pragma once

struct file_handle;
struct nsm_aquatic_env;

// The header every aquatic environment file begins with.
inline constexpr const char* aqenv_header = "AQUATIC_ENV_NSM10";

// Largest NUM_IDS: the environment ids are the category ids of the overland id map.
inline constexpr int aqenv_max_ids = 10000;

// True when the first line of the file begins with the header.
bool aqenv_read_header(file_handle& h);

// Rewinds and takes the OV_MAP and ST_MAP names (the last of each seen before the search stops
// at the second map line or the end of the file). Returns the number of map lines seen.
int aqenv_read_maps(file_handle& h, nsm_aquatic_env& env);

// Rewinds and takes NUM_IDS from the first line that begins with it, leaving the file after that
// line, and makes each id's record of 52 zeros. Returns 1 when found, 0 when the file has no
// NUM_IDS line (NUM_IDS stays 0), -1 after reporting a value that is not a count of 0 to
// aqenv_max_ids (the message names the file and the line).
int aqenv_read_num_ids(file_handle& h, nsm_aquatic_env& env, const char* file);

// Skips the heading line after NUM_IDS and reads the id blocks to the end of the file. Returns
// true when every block was read; false after reporting the first fault: an id above NUM_IDS
// (code 78), or a line whose id or values are not numbers, or that holds more values than its
// slots (the message names the file, the line and the field).
bool aqenv_read_params(file_handle& h, nsm_aquatic_env& env, const char* file);

// The whole file `file` into `env`, without the id map: open, header, map names, NUM_IDS and the
// blocks. Returns true on success; false after reporting the fault (codes 76, 77, 78 or the
// reader's own message, which names a file without a NUM_IDS line).
bool aqenv_read_file(const char* file, nsm_aquatic_env& env);
