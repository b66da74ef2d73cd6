// Watershed mask and elevation: reads the mask that defines the watershed cells, numbers them
// row by row and writes the numbered copy "maskmap"; then reads the cell elevations and finds the
// outlet cell. Called by read_maps at start-up, the mask first.
#include "input/watershed_mask.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/core/process_info.h"
#include "framework/model_state.h"
#include "input/ascii_grid.h"

namespace {

// Cell size on the 0.1 m scale on which the project's GRIDSIZE and a map's cells must agree:
// trunc((size + 0.001) x 10), held as a double so that no size overflows an int.
double size_tenths(double size) {
  return std::trunc((size + 0.001) * 10.0);
}

// False, after the mismatch lines and the report, when the map header's cells do not measure
// GRIDSIZE; north-south is tested first.
bool check_grid_size(model_state& ms) {
  const double ns_size = (ms.map_north - ms.map_south) / ms.map_rows;
  const double ew_size = (ms.map_east - ms.map_west) / ms.map_cols;
  const double g = size_tenths(ms.gridsize);
  const char* dimension = nullptr;
  double map_size = 0.0;
  if (g != size_tenths(ns_size)) {
    dimension = "north-south";
    map_size = ns_size;
  } else if (g != size_tenths(ew_size)) {
    dimension = "east-west";
    map_size = ew_size;
  }
  if (dimension == nullptr) return true;
  if (input_console_on(ms)) {
    printf("\nThe grid size specified in the project file: %7.4f m differs from\n", ms.gridsize);
    printf("the %s dimension of the raster grid cells %7.4f m as calculated\n", dimension,
           map_size);
    printf("from the WATERSHED_MASK header.  Check your data to make sure they agree.\n");
    printf("TORVA terminating.\n\n");
  }
  stop_now();
  return false;
}

// Gives every non-zero position of index_map (border included, which is zero) the next cell
// number, row by row; returns the count.
int number_cells(raw_array2d<int>& index_map, int rows, int cols) {
  int number = 0;
  for (int r = 0; r <= rows + 1; ++r) {
    int* row = index_map[r];
    for (int c = 0; c <= cols + 1; ++c) {
      if (row[c] != 0) row[c] = ++number;
    }
  }
  return number;
}

// The numbered mask with the header of the map, as "maskmap". A file that cannot be opened or
// written is a console line only.
void write_mask_map(model_state& ms) {
  file_handle out;
  if (!file_handle_open(out, "maskmap", "w")) {
    printf("Error: unable to open mask map file for writing\n");
    return;
  }
  fprintf(out.fp, "north: %9.2lf\n", ms.map_north);
  fprintf(out.fp, "south: %9.2lf\n", ms.map_south);
  fprintf(out.fp, "east: %9.2lf\n", ms.map_east);
  fprintf(out.fp, "west: %9.2lf\n", ms.map_west);
  fprintf(out.fp, "rows: %5d\n", ms.map_rows);
  fprintf(out.fp, "cols: %5d\n", ms.map_cols);
  // Each row is formatted as "%d " per column and written whole.
  std::string line;
  char number[16];
  for (int r = 1; r <= ms.rows; ++r) {
    line.clear();
    const int* row = ms.index_map[r];
    for (int c = 1; c <= ms.cols; ++c) {
      const auto result = std::to_chars(number, number + sizeof number, row[c]);
      line.append(number, result.ptr);
      line.push_back(' ');
    }
    line.push_back('\n');
    fwrite(line.data(), 1, line.size(), out.fp);
  }
  const bool failed = ferror(out.fp) != 0 || fflush(out.fp) != 0;
  file_handle_close(out);
  if (failed) printf("Error: unable to write mask map file\n");
}

// With two or more grid partitions, the partition of the numbered grid among the processes.
void partition_watershed(model_state& ms) {
  if (process_info.num_partitions < 2) return;
  process_info.partition_map = ms.index_map.row_table();
  process_info.num_cells = ms.cell_count;
  process_info.nrows = ms.rows;
  process_info.ncols = ms.cols;
  partition_domain(process_info);
}

}  // namespace

void read_watershed_mask(model_state& ms) {
  const char* name = ms.input.names.watershed_mask;
  input_reading_line(ms, "reading watershed mask from file: %s\n", name);
  if (!ms.input.watershed_mask_file.is_open()) {
    raise_file_error(err_file_not_open, "watershed mask", name);
    return;
  }
  read_ascii_map(ms.input.watershed_mask_file, name, map_store_grid_int, ms.map_north, ms.map_south,
                 ms.map_east, ms.map_west, ms.map_rows, ms.map_cols, ms.index_map, nullptr, nullptr,
                 nullptr, ms.rows, ms.cols);
  file_handle_close(ms.input.watershed_mask_file);
  // A map that could not be read has no header or cells worth checking or numbering.
  if (run_error.error_fatal != 0) return;
  if (!check_grid_size(ms)) return;

  ms.cell_count = number_cells(ms.index_map, ms.rows, ms.cols);
  if (ms.cell_count == 0) {
    printf("Error: the watershed mask %s holds no watershed cell (every value is 0)\n", name);
    stop_now();
    return;
  }
  partition_watershed(ms);
  write_mask_map(ms);
  input_reading_line(ms, "number of grid cells in watershed: %d\n", ms.cell_count);
  ms.watershed_area = ms.gridsize * ms.gridsize * ms.cell_count;
}

// The range of ground elevations a watershed may have (m).
constexpr double lowest_elevation = -1000.0;
constexpr double highest_elevation = 10000.0;

void read_elevation_map(model_state& ms) {
  const char* name = ms.input.names.elevation;
  input_reading_line(ms, "reading elevation map from file: %s\n", name);
  if (!ms.input.elevation_file.is_open()) {
    raise_file_error(err_file_not_open, "elevation data", name);
    return;
  }
  read_ascii_map(ms.input.elevation_file, name, map_store_cell_double, ms.map_north, ms.map_south,
                 ms.map_east, ms.map_west, ms.map_rows, ms.map_cols, ms.index_map, &ms.cell_elev,
                 nullptr, nullptr, ms.rows, ms.cols);
  file_handle_close(ms.input.elevation_file);
  if (run_error.error_fatal != 0) return;
  // Ground elevations lie between the deepest dry depression and the highest summit with room
  // to spare; a value beyond them is a fault of the map (a no-data value inside the watershed,
  // a unit slip), and its fall over one cell would wreck the routing and the water balance.
  for (int r = 1; r <= ms.map_rows; ++r) {
    for (int c = 1; c <= ms.map_cols; ++c) {
      const int cell = ms.index_map[r][c];
      if (cell < 1) continue;
      const double z = ms.cell_elev[cell];
      if (z >= lowest_elevation && z <= highest_elevation) continue;
      printf("Error: the elevation %g m in map %s at row %d column %d lies outside %g to %g m.\n",
             z, name, r, c, lowest_elevation, highest_elevation);
      stop_now();
      return;
    }
  }

  // The outlet is the cell at OUTROW, OUTCOL; a position off the grid is outside the watershed.
  const int out_row = ms.grid_params.outrow;
  const int out_col = ms.grid_params.outcol;
  ms.outlet_cell = 0;
  if (out_row >= 1 && out_row <= ms.map_rows && out_col >= 1 && out_col <= ms.map_cols)
    ms.outlet_cell = ms.index_map[out_row][out_col];
  if (ms.outlet_cell == 0 && ms.channel.chan_explic == 0) {
    printf("\nThe outlet row and column you specified in the project file are not\n");
    printf("inside the watershed mask.  Check the outlet row and column again, and\n");
    printf("make sure they are correctly specified in the project file using the\n");
    printf("OUTROW and OUTCOL project file cards.  TORVA terminating.\n\n");
    stop_now();
    return;
  }
  input_reading_line(ms, "outlet is in grid cell: %d\n", ms.outlet_cell);
}
