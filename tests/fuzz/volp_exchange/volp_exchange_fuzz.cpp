// Fuzzes the grids VOLP hands back at start-up: the soil moisture grid, and after lines
// "@@@ rough.asc" and "@@@ ksat.asc" the roughness and conductivity grids, read into a grid of
// 2 rows by 3 columns (5 cells); then the end of the event writes the grids and the event file.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "fuzz/common/fuzz_support.h"
#include "output/output_steps.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  torva_fuzz::fuzz_init(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (torva_fuzz::names_outside_folder(data, size)) return 0;
  std::vector<torva_fuzz::fuzz_file> files = torva_fuzz::split_files(data, size, "moist.asc");
  for (torva_fuzz::fuzz_file& f : files) f.name = "exchange_" + f.name;
  torva_fuzz::fuzz_run run(files);
  std::error_code ec;
  std::filesystem::create_directory("exchange", ec);
  for (const char* name : {"moist.asc", "rough.asc", "ksat.asc"})
    std::filesystem::rename(std::string("exchange_") + name, std::string("exchange/") + name, ec);

  auto ms = std::make_unique<model_state>();
  ms->rows = 2;
  ms->cols = 3;
  ms->cell_count = 5;
  ms->map_north = 60.0;
  ms->map_east = 90.0;
  if (!ms->index_map.allocate(2, 3)) return 0;
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c) ms->index_map[r][c] = r == 2 && c == 3 ? 0 : (r - 1) * 3 + c;
  subsurface_state& ss = ms->subsurface;
  for (raw_array1d<double>* a : {&ss.theta_init, &ss.ks_cell, &ss.porosity_cell,
                                 &ms->overland.ov_roughness, &ms->output.volp_scratch})
    if (!a->allocate(5)) return 0;
  output_state& out = ms->output;
  ms->tev = 1;
  out.volp = out.volp_first = 1;
  out.moist_from_volp = out.rough_from_volp = out.ksat_from_volp = 1;
  out.moist_to_volp = out.rough_to_volp = out.ksat_to_volp = out.poros_to_volp = 1;
  std::strcpy(out.moist_from_volp_file, "exchange/moist.asc");
  std::strcpy(out.rough_from_volp_file, "exchange/rough.asc");
  std::strcpy(out.ksat_from_volp_file, "exchange/ksat.asc");
  std::strcpy(out.moist_to_volp_file, "exchange/moist_out.asc");
  std::strcpy(out.rough_to_volp_file, "exchange/rough_out.asc");
  std::strcpy(out.ksat_to_volp_file, "exchange/ksat_out.asc");
  std::strcpy(out.poros_to_volp_file, "exchange/poros_out.asc");
  std::strcpy(out.volp_exchange_file, "exchange/volp.txt");

  read_volp_start_moisture(*ms);
  if (run_error.error_fatal == 0) read_volp_exchange_start(*ms);
  if (run_error.error_fatal == 0) {
    ms->event_over = 1;
    ms->overland.num_events = 1;
    ms->event_number = 1;
    write_volp_exchange_end(*ms);
  }
  if (run_error.error_code > 0) error_report(run_error);
  return 0;
}
