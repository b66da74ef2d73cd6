// Calibration runs spread over several processes: with MPI (a build option) the Monte Carlo runs
// are divided among the processes, each process's evaluations are gathered by the root for the
// results table, and the best run of all processes is reported. Without MPI, or run as one
// process, every operation here leaves things as they are.
#pragma once

#include <vector>

struct process_context;
struct result_store;

// Joins the processes started together (MPI) and sets the rank and process count of `info`;
// one process of rank 0 without MPI. Call once at program start.
void spread_start(int* argc, char*** argv, process_context& info);
// Leaves the process group (MPI); call once at program end.
void spread_end();

// True when this build can spread runs over processes.
bool spread_available();

// After every evaluation of a process that makes `runs_per_process` of them. On the others:
// sends their records to the root. On the root: appends to `store` the records of the other
// processes that have arrived, and after its own last evaluation waits for all the rest (the
// table is complete when the root's runs end). Nothing with fewer than two processes.
void merge_process_results(result_store& store, const process_context& info, int runs_per_process);

// The smallest absolute cost of all processes (the lowest rank's on ties) and its values
// 1..n: the root receives every process's best; others send theirs. With one process `cost`
// and `values` stay as they are. Returns true on the root.
bool gather_best(double& cost, std::vector<double>& values, int n, const process_context& info);

// The same unsigned seed on every process: the root's value is sent to the others.
unsigned shared_seed(unsigned root_seed, const process_context& info);
