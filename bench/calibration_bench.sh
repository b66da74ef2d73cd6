#!/usr/bin/env bash
# Monte Carlo runs of the example watershed (examples/watershed, its Manning n drawn between
# 0.03 and 0.07): RUNS runs on one process and on PROCESSES processes started by mpirun, with
# THREADS threads in every process (NUM_THREADS), and the speed-up between the two; then a
# trial's fixed cost (start-up, reading, set-up and release: the same trials cut to one time
# step) against the whole trial. Usage: bench/calibration_bench.sh [build folder]
set -euo pipefail
BUILD=$(cd "${1:-build}" && pwd)
RUNS=${RUNS:-40}
PROCESSES=${PROCESSES:-4}
THREADS=${THREADS:-1}
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export OMP_WAIT_POLICY=passive TORVA_RANDOM_SEED=${TORVA_RANDOM_SEED:-2024}
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1

# One folder per measurement: the example with its n as a calibration parameter.
make_case() {
  local dir=$1 minutes=$2
  cp -r "$SOURCE/examples/watershed" "$dir"
  sed -i "s/^MANNING_N .*/MANNING_N [MANNING]/; s/^TOT_TIME .*/TOT_TIME $minutes/" \
    "$dir/watershed.prj"
  echo "NUM_THREADS $THREADS" >> "$dir/watershed.prj"
  printf '1\n[MANNING] "%%8.6lf"\n' > "$dir/params.txt"
  printf '1\n1.0 1 1000 1\n' > "$dir/obs.txt"
  printf 'watershed.prj\nparams.txt\nobs.txt\n1\n0.03 0.07\n' > "$dir/mc.in"
}

seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

make_case "$WORK/one" 150
one=$(cd "$WORK/one" && seconds "$BUILD/torva" "-m$RUNS" mc.in)
echo "Monte Carlo, $RUNS runs of the example on 1 process ($THREADS thread each): $(printf %.2f "$one") s"
if command -v mpirun > /dev/null 2>&1; then
  make_case "$WORK/many" 150
  many=$(cd "$WORK/many" && seconds mpirun --oversubscribe -n "$PROCESSES" "$BUILD/torva" \
    "-m$RUNS" mc.in)
  echo "Monte Carlo, $RUNS runs on $PROCESSES processes: $(printf %.2f "$many") s," \
    "speed-up $(printf %.2f "$(echo "$one / $many" | bc -l)")"
  if ! cmp -s <(sort "$WORK/one/0000_results_all.out") <(sort "$WORK/many/0000_results_all.out")
  then
    echo "the results tables of 1 and $PROCESSES processes differ" >&2
    exit 1
  fi
else
  echo "no mpirun: the spread over processes is not measured"
fi

# A trial's fixed cost: the same trials cut to one time step of 10 s, timed whole.
make_case "$WORK/short" 0.1667
fixed=$(cd "$WORK/short" && seconds "$BUILD/torva" "-m$RUNS" mc.in)
echo "trial: whole $(printf %.4f "$(echo "$one / $RUNS" | bc -l)") s," \
  "fixed part $(printf %.4f "$(echo "$fixed / $RUNS" | bc -l)") s" \
  "($(printf %.1f "$(echo "100 * $fixed / $one" | bc -l)") %)"
