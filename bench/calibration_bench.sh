#!/usr/bin/env bash
# Monte Carlo runs of the example watershed (examples/watershed, its Manning n drawn between
# 0.03 and 0.07): RUNS runs on one process and on PROCESSES processes started by mpirun, with
# THREADS threads in every process (NUM_THREADS), and the speed-up between the two, counted from
# launch to exit; the fixed cost of starting the program and its processes (the version banner
# alone, on one process and under mpirun) and the speed-up of the run phase without it; the same
# for a heavier trial (the example on time steps of HEAVY_TIMESTEP seconds instead of 10); then a
# trial's fixed cost (start-up, reading, set-up and release: the same trials cut to the first
# minute) against the whole trial. Every time is the median of REPEATS
# runs.
# Usage: bench/calibration_bench.sh [build folder]
set -euo pipefail
BUILD=$(cd "${1:-build}" && pwd)
RUNS=${RUNS:-40}
PROCESSES=${PROCESSES:-4}
THREADS=${THREADS:-1}
HEAVY_TIMESTEP=${HEAVY_TIMESTEP:-1.0}
REPEATS=${REPEATS:-5}
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export OMP_WAIT_POLICY=passive TORVA_RANDOM_SEED=${TORVA_RANDOM_SEED:-2024}
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
MPIRUN=(mpirun --oversubscribe -n "$PROCESSES")

# One folder per measurement: the example with its n as a calibration parameter, run for the
# given whole number of minutes on time steps of the given seconds.
make_case() {
  local dir=$1 minutes=$2 step=${3:-10.0}
  cp -r "$SOURCE/examples/watershed" "$dir"
  sed -i "s/^MANNING_N .*/MANNING_N [MANNING]/; s/^TOT_TIME .*/TOT_TIME $minutes/" \
    "$dir/watershed.prj"
  sed -i "s/^TIMESTEP .*/TIMESTEP $step/" "$dir/watershed.prj"
  echo "NUM_THREADS $THREADS" >> "$dir/watershed.prj"
  printf '1\n[MANNING] "%%8.6lf"\n' > "$dir/params.txt"
  printf '1\n1.0 1 1000 1\n' > "$dir/obs.txt"
  printf 'watershed.prj\nparams.txt\nobs.txt\n1\n0.03 0.07\n' > "$dir/mc.in"
}

# The median wall time in seconds of REPEATS runs of the command, each after the outputs of the
# one before are removed.
seconds() {
  local k start end times=()
  for ((k = 0; k < REPEATS; ++k)); do
    rm -f 0*_*
    start=$(date +%s.%N)
    "$@" > /dev/null 2>&1
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc -l)")
  done
  printf '%s\n' "${times[@]}" | sort -g | sed -n "$((REPEATS / 2 + 1))p"
}

ratio() { printf %.2f "$(echo "($1) / ($2)" | bc -l)"; }
fmt() { printf "%.${2:-2}f" "$1"; }

# The program started and ended without a run: on one process, and under mpirun.
make_case "$WORK/start" 150
start_one=$(cd "$WORK/start" && seconds "$BUILD/torva" -v x)
echo "start and end of the program alone: $(fmt "$start_one" 3) s on 1 process"

# Trials of the example (10 s steps) and of the heavier run (HEAVY_TIMESTEP).
for step in 10.0 "$HEAVY_TIMESTEP"; do
  make_case "$WORK/one_$step" 150 "$step"
  one=$(cd "$WORK/one_$step" && seconds "$BUILD/torva" "-m$RUNS" mc.in)
  echo "Monte Carlo, $RUNS runs of the example on $step s steps on 1 process" \
    "($THREADS thread each): $(fmt "$one") s"
  if [ "$step" = 10.0 ]; then whole=$one; fi
  if ! command -v mpirun > /dev/null 2>&1; then
    echo "no mpirun: the spread over processes is not measured"
    continue
  fi
  if [ "$step" = 10.0 ]; then
    start_many=$(cd "$WORK/start" && seconds "${MPIRUN[@]}" "$BUILD/torva" -v x)
    echo "start and end of $PROCESSES processes under mpirun alone: $(fmt "$start_many" 3) s"
  fi
  make_case "$WORK/many_$step" 150 "$step"
  many=$(cd "$WORK/many_$step" && seconds "${MPIRUN[@]}" "$BUILD/torva" "-m$RUNS" mc.in)
  echo "Monte Carlo, $RUNS runs on $step s steps on $PROCESSES processes: $(fmt "$many") s," \
    "speed-up $(ratio "$one" "$many") from launch to exit," \
    "$(ratio "$one - $start_one" "$many - $start_many") for the runs alone"
  (cd "$WORK/one_$step" && rm -f 0*_* && "$BUILD/torva" "-m$RUNS" mc.in > /dev/null 2>&1)
  (cd "$WORK/many_$step" && rm -f 0*_* && "${MPIRUN[@]}" "$BUILD/torva" "-m$RUNS" mc.in \
    > /dev/null 2>&1)
  if ! cmp -s <(sort "$WORK/one_$step/0000_results_all.out") \
    <(sort "$WORK/many_$step/0000_results_all.out"); then
    echo "the results tables of 1 and $PROCESSES processes differ" >&2
    exit 1
  fi
done

# A trial's fixed cost: the same trials cut to their first minute (6 of their 720 steps); a
# trial's time is the difference between RUNS and 2 RUNS trials, so that what a process pays once
# (its start, its first trial's first touch of code and memory) is left out.
# The short trials are many (SHORT_RUNS and twice as many), so that their difference stands out
# of the noise of a busy machine.
SHORT_RUNS=${SHORT_RUNS:-$((5 * RUNS))}
make_case "$WORK/short" 1
short=$(cd "$WORK/short" && seconds "$BUILD/torva" "-m$SHORT_RUNS" mc.in)
short2=$(cd "$WORK/short" && seconds "$BUILD/torva" "-m$((2 * SHORT_RUNS))" mc.in)
whole2=$(cd "$WORK/one_10.0" && seconds "$BUILD/torva" "-m$((2 * RUNS))" mc.in)
trial=$(echo "($whole2 - $whole) / $RUNS" | bc -l)
fixed=$(echo "($short2 - $short) / $SHORT_RUNS" | bc -l)
echo "trial: whole $(fmt "$trial" 4) s, fixed part $(fmt "$fixed" 4) s" \
  "($(fmt "$(echo "100 * $fixed / $trial" | bc -l)" 1) %)"
