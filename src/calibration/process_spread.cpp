// Calibration runs spread over several processes with MPI: the start and end of the process
// group, the gathering of every process's evaluations for the results table after each run, and
// of the best runs for the report. Built without MPI the program is one process of rank 0.
#include "calibration/process_spread.h"

#include <cmath>
#include <cstdlib>

#include "calibration/objectives.h"
#include "framework/core/process_info.h"

#ifdef TORVA_WITH_MPI
#include <mpi.h>
#endif

#ifdef TORVA_WITH_MPI

namespace {

bool mpi_running() {
  int started = 0, finished = 0;
  MPI_Initialized(&started);
  MPI_Finalized(&finished);
  return started != 0 && finished == 0;
}

// A record as doubles: cost, hmle, rmse, max peak, max volume, log error, n, params 1..n.
void pack(const result_record& r, std::vector<double>& out) {
  out.push_back(r.cost);
  out.push_back(r.hmle);
  out.push_back(r.rmse);
  out.push_back(r.max_peak);
  out.push_back(r.max_volume);
  out.push_back(r.log_error);
  out.push_back(r.n);
  for (int k = 1; k <= r.n; ++k) out.push_back(r.params[k]);
}

}  // namespace

void spread_start(int* argc, char*** argv, process_context& info) {
  // Only a process that mpirun started joins a group: a program started alone stays one
  // process and never starts the MPI runtime.
  if (getenv("OMPI_COMM_WORLD_SIZE") == nullptr && getenv("PMIX_RANK") == nullptr &&
      getenv("PMI_SIZE") == nullptr)
    return;
  int provided = 0;
  if (MPI_Init_thread(argc, argv, MPI_THREAD_FUNNELED, &provided) != MPI_SUCCESS) return;
  int rank = 0, size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  info.process_rank = rank;
  info.num_processes = size;
  // Each process leads its own group of one: it draws, runs and logs its share of the runs.
  info.process_index = 0;
  info.merge_field1 = rank;  // the worker number that names the process's run log
}

void spread_end() {
  if (mpi_running()) MPI_Finalize();
}

bool spread_available() {
  return true;
}

void merge_process_results(result_store& store, const process_context& info) {
  if (info.num_processes < 2 || !mpi_running()) return;
  std::vector<double> mine;
  for (const result_record& r : store.records) pack(r, mine);
  int count = static_cast<int>(mine.size());
  std::vector<int> counts(info.num_processes, 0);
  MPI_Gather(&count, 1, MPI_INT, counts.data(), 1, MPI_INT, 0, MPI_COMM_WORLD);
  std::vector<int> offsets(info.num_processes, 0);
  int total = 0;
  for (int p = 0; p < info.num_processes; ++p) {
    offsets[p] = total;
    total += counts[p];
  }
  std::vector<double> all(info.process_rank == 0 ? (total > 0 ? total : 1) : 1);
  MPI_Gatherv(mine.data(), count, MPI_DOUBLE, all.data(), counts.data(), offsets.data(), MPI_DOUBLE,
              0, MPI_COMM_WORLD);
  if (info.process_rank != 0) return;
  // The root's own records stay first; the others follow in rank order.
  for (int p = 1; p < info.num_processes; ++p) {
    int at = offsets[p];
    const int end = offsets[p] + counts[p];
    while (at + 7 <= end) {
      result_record r;
      r.cost = all[at];
      r.hmle = all[at + 1];
      r.rmse = all[at + 2];
      r.max_peak = all[at + 3];
      r.max_volume = all[at + 4];
      r.log_error = all[at + 5];
      r.n = static_cast<int>(all[at + 6]);
      at += 7;
      r.params.assign(r.n + 1, 0.0);
      for (int k = 1; k <= r.n && at < end; ++k) r.params[k] = all[at++];
      store.records.push_back(std::move(r));
    }
  }
}

bool gather_best(double& cost, std::vector<double>& values, int n, const process_context& info) {
  if (info.num_processes < 2 || !mpi_running()) return info.process_rank == 0;
  std::vector<double> mine(n + 1, 0.0);
  mine[0] = cost;
  for (int k = 1; k <= n && k < static_cast<int>(values.size()); ++k) mine[k] = values[k];
  std::vector<double> all(
      info.process_rank == 0 ? static_cast<std::size_t>(n + 1) * info.num_processes : 1);
  MPI_Gather(mine.data(), n + 1, MPI_DOUBLE, all.data(), n + 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  if (info.process_rank != 0) return false;
  int best = 0;
  for (int p = 1; p < info.num_processes; ++p)
    if (std::fabs(all[static_cast<std::size_t>(p) * (n + 1)]) <
        std::fabs(all[static_cast<std::size_t>(best) * (n + 1)]))
      best = p;
  const double* row = &all[static_cast<std::size_t>(best) * (n + 1)];
  cost = row[0];
  values.assign(row, row + n + 1);
  values[0] = 0.0;
  return true;
}

unsigned shared_seed(unsigned root_seed, const process_context& info) {
  if (info.num_processes < 2 || !mpi_running()) return root_seed;
  unsigned seed = root_seed;
  MPI_Bcast(&seed, 1, MPI_UNSIGNED, 0, MPI_COMM_WORLD);
  return seed;
}

#else

void spread_start(int*, char***, process_context& info) {
  info.process_rank = 0;
  info.num_processes = 1;
}

void spread_end() {}

bool spread_available() {
  return false;
}

void merge_process_results(result_store&, const process_context&) {}

bool gather_best(double&, std::vector<double>&, int, const process_context& info) {
  return info.process_rank == 0;
}

unsigned shared_seed(unsigned root_seed, const process_context&) {
  return root_seed;
}

#endif
