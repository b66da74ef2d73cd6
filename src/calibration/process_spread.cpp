// Calibration runs spread over several processes with MPI: the start and end of the process
// group, the gathering of every process's evaluations for the results table after each run, and
// of the best runs for the report. Built without MPI the program is one process of rank 0.
#include "calibration/process_spread.h"

#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

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

// Each of `processes` processes on one machine runs its trials on its share of the machine's
// processors (at least one, at most those it may run on): left at a thread per processor, four
// processes would wake four times the threads the machine has. A NUM_THREADS card of the
// project still sets a run's count.
void share_processors(process_context& info, int processes) {
  if (processes < 2) return;
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  const int allowed = std::max(1, omp_get_num_procs());
  const int threads = static_cast<int>(std::min<long>(allowed, std::max(1L, online / processes)));
  info.num_threads = threads;
  omp_set_num_threads(threads);
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
  // The console of a process that mpirun started is a pipe to mpirun, which forwards what comes
  // through it: the first process's progress lines (one a time step) go through it in large
  // blocks rather than a page at a time. Nothing has been written yet.
  if (size > 1) setvbuf(stdout, nullptr, _IOFBF, std::size_t{1} << 16);
  // The processes started together on this machine share its processors.
  int here = 1;
  MPI_Comm local;
  if (MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, rank, MPI_INFO_NULL, &local) ==
      MPI_SUCCESS) {
    MPI_Comm_size(local, &here);
    MPI_Comm_free(&local);
  }
  share_processors(info, here);
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

namespace {

constexpr int record_tag = 41;
constexpr int best_tag = 42;

// Receives one message of doubles from any process into `out` when one is waiting, or, with
// `wait`, once one arrives: the root sleeps between looks rather than spinning, so that on a
// busy machine it leaves the processors to the processes still running their trials.
bool receive(int tag, bool wait, std::vector<double>& out, int& source) {
  for (;;) {
    int flag = 0;
    MPI_Status status;
    MPI_Iprobe(MPI_ANY_SOURCE, tag, MPI_COMM_WORLD, &flag, &status);
    if (flag) {
      int count = 0;
      MPI_Get_count(&status, MPI_DOUBLE, &count);
      out.assign(count > 0 ? count : 1, 0.0);
      MPI_Recv(out.data(), count, MPI_DOUBLE, status.MPI_SOURCE, tag, MPI_COMM_WORLD,
               MPI_STATUS_IGNORE);
      out.resize(count > 0 ? count : 0);
      source = status.MPI_SOURCE;
      return true;
    }
    if (!wait) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void unpack(const std::vector<double>& all, result_store& store) {
  std::size_t at = 0;
  while (at + 7 <= all.size()) {
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
    for (int k = 1; k <= r.n && at < all.size(); ++k) r.params[k] = all[at++];
    store.records.push_back(std::move(r));
  }
}

}  // namespace

void merge_process_results(result_store& store, const process_context& info, int runs_per_process) {
  if (info.num_processes < 2 || !mpi_running()) return;
  if (info.process_rank != 0) {
    // One message per evaluation; small enough to leave at once.
    std::vector<double> mine;
    for (const result_record& r : store.records) pack(r, mine);
    MPI_Send(mine.data(), static_cast<int>(mine.size()), MPI_DOUBLE, 0, record_tag, MPI_COMM_WORLD);
    return;
  }
  // The root takes what has arrived; after its own last evaluation it waits for the rest.
  store.own_merged += 1;
  const long expected = static_cast<long>(runs_per_process) * (info.num_processes - 1);
  const bool last = store.own_merged >= runs_per_process;
  std::vector<double> message;
  int source = 0;
  while (store.others_merged < expected && receive(record_tag, last, message, source)) {
    unpack(message, store);
    store.others_merged += 1;
  }
}

bool gather_best(double& cost, std::vector<double>& values, int n, const process_context& info) {
  if (info.num_processes < 2 || !mpi_running()) return info.process_rank == 0;
  if (info.process_rank != 0) {
    std::vector<double> mine(n + 1, 0.0);
    mine[0] = cost;
    for (int k = 1; k <= n && k < static_cast<int>(values.size()); ++k) mine[k] = values[k];
    MPI_Send(mine.data(), n + 1, MPI_DOUBLE, 0, best_tag, MPI_COMM_WORLD);
    return false;
  }
  // The smallest absolute cost; of equal ones the process of the lowest rank (the root first).
  std::vector<std::vector<double>> best_of(info.num_processes);
  std::vector<double> message;
  for (int p = 1; p < info.num_processes; ++p) {
    int source = 0;
    receive(best_tag, true, message, source);
    if (source > 0 && source < info.num_processes) best_of[source] = message;
  }
  for (int p = 1; p < info.num_processes; ++p) {
    const std::vector<double>& row = best_of[p];
    if (static_cast<int>(row.size()) != n + 1) continue;
    if (std::fabs(row[0]) < std::fabs(cost)) {
      cost = row[0];
      values.assign(row.begin(), row.end());
      values[0] = 0.0;
    }
  }
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

void merge_process_results(result_store&, const process_context&, int) {}

bool gather_best(double&, std::vector<double>&, int, const process_context& info) {
  return info.process_rank == 0;
}

unsigned shared_seed(unsigned root_seed, const process_context&) {
  return root_seed;
}

#endif
