// Dataset writers and the start-up steps that open the model's map datasets and write its
// stream and pipe link/node headers.
#include "output/datasets.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "framework/core/error_state.h"
#include "framework/core/file_handle.h"
#include "framework/model_state.h"
#include "output/grid_writer.h"

namespace {

const char* const dataset_names[map_dataset_kind_count] = {
    "depth",
    "discharge",
    "rain",
    "infiltrated_depth",
    "infiltration_rate",
    "surface_moisture",
    "groundwater_head",
    "sediment_flux",
    "sediment_volume",
    "suspended_sediment_conc",
    "contaminant_conc",
    "flood_grid",
    "gw_recharge_cum",
    "gw_recharge_inc",
    "snow_water_equivalent",
};

const char* const linknode_keywords[32] = {
    "TORVA_LINKNODE_STREAM_DEPTH",
    "TORVA_LINKNODE_STREAM_FLOW",
    "TORVA_LINKNODE_STREAM_STAGE",
    "TORVA_LINKNODE_STREAM_VELOCITY",
    "TORVA_LINKNODE_FLOOD_STREAM_DEPTH",
    "TORVA_LINKNODE_SUPERLINK_FLOW",
    "TORVA_LINKNODE_SUPERLINK_HEAD",
    "TORVA_LINKNODE_SUPERLINK_TILE_FLOW",
    "TORVA_LINKNODE_NO2_MASS",
    "TORVA_LINKNODE_NO3_MASS",
    "TORVA_LINKNODE_NH4_MASS",
    "TORVA_LINKNODE_ON_MASS",
    "TORVA_LINKNODE_OP_MASS",
    "TORVA_LINKNODE_DP_MASS",
    "TORVA_LINKNODE_ALG_MASS",
    "TORVA_LINKNODE_CBOD_MASS",
    "TORVA_LINKNODE_DO_MASS",
    "TORVA_LINKNODE_NO2_CONC",
    "TORVA_LINKNODE_NO3_CONC",
    "TORVA_LINKNODE_NH4_CONC",
    "TORVA_LINKNODE_ON_CONC",
    "TORVA_LINKNODE_OP_CONC",
    "TORVA_LINKNODE_DP_CONC",
    "TORVA_LINKNODE_ALG_CONC",
    "TORVA_LINKNODE_CBOD_CONC",
    "TORVA_LINKNODE_DO_CONC",
    "TORVA_LINKNODE_MASS",
    "TORVA_LINKNODE_CONCENTRATION",
    "TORVA_LINKNODE_TOTAL_NITROGEN",
    "TORVA_LINKNODE_TOTAL_KJELDAHL_NITROGEN",
    "TORVA_LINKNODE_TOTAL_PHOSPHORUS",
    "TORVA_LINKNODE_STREAM_SED_FLUX",
};

// Binary values are written byte by byte, least significant first, so that the files are the
// same on every platform.
void put_u32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFFu));
}
void put_i32(std::string& out, int v) {
  put_u32(out, static_cast<std::uint32_t>(v));
}
void put_u16(std::string& out, unsigned v) {
  out.push_back(static_cast<char>(v & 0xFFu));
  out.push_back(static_cast<char>((v >> 8) & 0xFFu));
}
void put_f64(std::string& out, double v) {
  std::uint64_t bits = 0;
  static_assert(sizeof bits == sizeof v);
  std::memcpy(&bits, &v, sizeof bits);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFFu));
}

void write_text(FILE* fp, const std::string& text) {
  if (!text.empty()) fwrite(text.data(), 1, text.size(), fp);
}

// Opens a dataset file; a failure is left for the driver with the file's name.
bool open_dataset_file(const char* file_name, file_handle& file, const char* mode) {
  if (file_handle_open(file, file_name, mode)) return true;
  raise_file_error(err_output_file_not_open, "map dataset", file_name);
  return false;
}

}  // namespace

const char* map_dataset_name(int kind) {
  return kind >= 0 && kind < map_dataset_kind_count ? dataset_names[kind] : "";
}

const char* linknode_keyword(int kind) {
  return kind >= 0 && kind < 32 ? linknode_keywords[kind] : "";
}

bool write_ascii_dataset_header(const char* file_name, file_handle& file, int object_id,
                                const char* dataset_name, int rows, int cols) {
  if (!open_dataset_file(file_name, file, "w")) return false;
  const int positions = rows * cols;
  fprintf(file.fp, "DATASET\nOBJTYPE grid2d\nBEGSCL\nOBJID %d\nND %d\nNC %d\nNAME %s\n", object_id,
          positions, positions, dataset_name);
  return true;
}

bool write_binary_dataset_header(const char* file_name, file_handle& file, int object_id,
                                 const char* dataset_name, int rows, int cols) {
  if (!open_dataset_file(file_name, file, "wb")) return false;
  const int positions = rows * cols;
  std::string out;
  for (int v :
       {3000, 100, 4, 110, 8, 120, 2, 130, 160, object_id, 170, positions, 180, positions, 190})
    put_i32(out, v);
  char name[40] = {};
  const std::size_t length = std::strlen(dataset_name);
  std::memcpy(name, dataset_name, length < sizeof name ? length : sizeof name);
  out.append(name, sizeof name);
  write_text(file.fp, out);
  return true;
}

void write_map_dataset_step(file_handle& file, double time, int rows, int cols,
                            const raw_array2d<int>& index_map, const double* values, bool binary) {
  FILE* fp = file.fp;
  if (fp == nullptr) return;
  std::string out;
  if (binary) {
    put_i32(out, 200);
    put_u16(out, 1);
    put_f64(out, time);
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= cols; ++c) put_u16(out, index_map[r][c] != 0 ? 1 : 0);
    write_text(fp, out);
    out.clear();
    long next = 1;
    for (int r = 1; r <= rows; ++r) {
      for (int c = 1; c <= cols; ++c) put_f64(out, index_map[r][c] != 0 ? values[next++] : 0.0);
      write_text(fp, out);
      out.clear();
    }
    return;
  }
  out = "TS 1 ";
  append_fixed(out, time, 0, 6);
  out.push_back('\n');
  for (int r = 1; r <= rows; ++r) {
    for (int c = 1; c <= cols; ++c) out.append(index_map[r][c] != 0 ? "1\n" : "0\n");
    write_text(fp, out);
    out.clear();
  }
  long next = 1;
  for (int r = 1; r <= rows; ++r) {
    for (int c = 1; c <= cols; ++c) {
      append_fixed(out, index_map[r][c] != 0 ? values[next++] : 0.0, 0, 6);
      out.push_back('\n');
    }
    write_text(fp, out);
    out.clear();
  }
}

void open_map_dataset(int object_id, const char* file_name, const char* dataset_name,
                      file_handle& file, int& enabled, model_state& ms) {
  const int map_type = ms.grid_params.map_type;
  if (map_type == 2) {
    write_binary_dataset_header(file_name, file, object_id, dataset_name, ms.map_rows, ms.map_cols);
    return;
  }
  if (map_type == 4) {
    enabled = 0;
    return;
  }
  if (map_type == 0) return;
  write_ascii_dataset_header(file_name, file, object_id, dataset_name, ms.map_rows, ms.map_cols);
}

void write_linknode_header(file_handle& file, int kind, int link_count, int time_step,
                           int record_count, int day, int month, int year, int hour, int minute) {
  FILE* fp = file.fp;
  if (fp == nullptr) return;
  if (kind >= 0 && kind < 32) fprintf(fp, "%s\n", linknode_keywords[kind]);
  fprintf(fp, "NUM_LINKS     %d\n", link_count);
  fprintf(fp, "TIME_STEP     %d\n", time_step);
  fprintf(fp, "NUM_TS        %d\n", record_count);
  fprintf(fp, "START_TIME    %2d %2d %4d %2d %2d %2d\n", day, month, year, hour, minute, 0);
}

void write_linknode_step(file_handle& file, int link_count, const int* node_count,
                         const int* written_count, const int* ltype, int record,
                         linknode_values first, linknode_values second, int mode,
                         const int* link_lake, const double* lake_values) {
  FILE* fp = file.fp;
  if (fp == nullptr) return;
  std::string out = "TS    ";
  append_int(out, record);
  out.push_back('\n');
  auto node_value = [&](int n, int l) {
    const double a = first.at(n, l);
    if (mode == linknode_plain || mode == linknode_plain_lakes || second.empty()) return a;
    const double b = second.at(n, l);
    // Without the written-node counts every mode other than plain writes the difference.
    if (mode == linknode_difference || written_count == nullptr) return a - b;
    return b > 1e-7 ? a / b : 0.0;
  };
  auto value_field = [&](const char* lead, double v) {
    out.append(lead);
    append_fixed(out, v, 6, 5);
    out.append("   ");
  };
  for (int l = 1; l <= link_count; ++l) {
    const int type = ltype[l];
    if (type & 32) {
      if (mode != linknode_plain && link_lake != nullptr && lake_values != nullptr)
        value_field("-1 ", lake_values[link_lake[l]]);
      else
        out.append("0  -999.999   ");
    }
    if (type & 64) {
      if (mode != linknode_plain && mode != linknode_plain_lakes)
        out.append("0  -999.999   ");
      else
        value_field("-2  ", first.at(1, l));
    }
    if ((type & (4 | 8 | 16)) != 0) {
      const int nodes = node_count[l];
      const int written = written_count != nullptr ? written_count[l] : nodes;
      append_int(out, written);
      out.append("   ");
      for (int n = 1; n <= written; ++n) {
        if (n <= nodes)
          value_field("1  ", node_value(n, l));
        else
          out.append("0  -999.999   ");
      }
    }
    out.push_back('\n');
  }
  out.push_back('\n');
  write_text(fp, out);
}

int linknode_run_time_step(const model_state& ms) {
  const double minutes = ms.hyd_freq_steps * ms.timestep / 60.0;
  const int step = static_cast<int>(minutes);
  return step < 1 ? 1 : step;
}

int linknode_run_record_count(const model_state& ms) {
  return ms.tot_time / linknode_run_time_step(ms);
}
