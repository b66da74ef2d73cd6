// Overland lake extent, the time-loop step after groundwater: each overland lake takes the
// volume change its cells collected during the step into its flat water surface, flooding the
// cells of its pit that connect to it as it rises, up to the pit's rim, over which the rest runs
// on as overland flow, and giving back the cells it took in as it falls. Serial: the lakes are
// updated one after the other.
#include "overland/overland_lakes.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "overland/overland_steps.h"

namespace {

constexpr double still_level = 1e-10;  // m: a smaller change of level moves nothing
constexpr int insertion_below = 7;     // sort: runs shorter than this by straight insertion
constexpr int sort_stack_size = 50;    // sort: entries of the partition stack

void swap_entries(double* keys, int* items, int i, int j) {
  std::swap(keys[i], keys[j]);
  std::swap(items[i], items[j]);
}

void print_huge_candidates() {
  printf("The candidate set is HUGE in olake_extent.  Sorry, but your DEM has\n");
  printf("too many grids with exactly the same elevation!  You should impose\n");
  printf("a little slope on your DEM in the lake region.  Program stopped.\n");
  stop_now();
}

// Grows `a` to hold indexes 1..n, keeping its first `kept` entries; false when the memory
// cannot be had (the array is then unchanged).
template <class T>
bool grow_keeping(raw_array1d<T>& a, int n, int kept) {
  if (a.count() >= n) return true;
  raw_array1d<T> bigger;
  if (!bigger.allocate(n)) return false;
  if (!a.empty() && kept > 0) std::memcpy(bigger.data(), a.data(), sizeof(T) * (kept + 1));
  a = std::move(bigger);
  return true;
}

// Room for `needed` listed and marked cells, keeping the first `kept` listed cells and the
// first `kept_marks` marked ones. The storage starts at an eighth of the grid and doubles as a lake
// needs more, up to the cells of the grid: a lake can list no more cells than the grid holds.
// False, after the message, only when the memory runs out.
bool make_room(olake_work_storage& w, int needed, int kept, int kept_marks, int cell_count) {
  if (w.cells.count() >= needed && w.keys.count() >= needed && w.marked.count() >= needed)
    return true;
  int size = w.cells.count() > 0 ? w.cells.count() : cell_count / 8;
  if (size < 16) size = 16;
  while (size < needed && size < cell_count) size = size > cell_count / 2 ? cell_count : size * 2;
  if (size < needed) size = needed;
  if (!grow_keeping(w.cells, size, kept) || !grow_keeping(w.keys, size, kept) ||
      !grow_keeping(w.marked, size, kept_marks)) {
    print_huge_candidates();
    return false;
  }
  return true;
}

double lake_water(const olake_grid_view& g, int lake, double surface) {
  const double area = g.dx * g.dx;
  double v = 0.0;
  for (int c = 1; c <= g.cell_count; ++c)
    if (g.lake_of_cell[c] == lake) v += (surface - g.z[c]) * area;
  return v;
}

// The shore cells of a rising lake, kept as a binary heap on their water surface (ties by cell
// number, so the order does not depend on how the cells were met).
struct shore_heap {
  olake_work_storage& w;
  int cell_count;
  int size = 0;
  int marks = 0;

  bool before(int a, int b) const {
    return w.keys[a] < w.keys[b] || (w.keys[a] == w.keys[b] && w.cells[a] < w.cells[b]);
  }
  void swap_at(int a, int b) {
    std::swap(w.keys[a], w.keys[b]);
    std::swap(w.cells[a], w.cells[b]);
  }
  bool push(int cell, double key) {
    if (!make_room(w, (size > marks ? size : marks) + 1, size, marks, cell_count)) return false;
    w.listed[cell] = 1;
    w.marked[++marks] = cell;
    int at = ++size;
    w.cells[at] = cell;
    w.keys[at] = key;
    while (at > 1 && before(at, at / 2)) {
      swap_at(at, at / 2);
      at /= 2;
    }
    return true;
  }
  void pop() {
    swap_at(1, size--);
    int at = 1;
    for (;;) {
      int low = at;
      if (2 * at <= size && before(2 * at, low)) low = 2 * at;
      if (2 * at + 1 <= size && before(2 * at + 1, low)) low = 2 * at + 1;
      if (low == at) return;
      swap_at(at, low);
      at = low;
    }
  }
  // Clears the marks of every cell listed while the lake flooded.
  void unmark() {
    for (int j = 1; j <= marks; ++j) w.listed[w.marked[j]] = 0;
    marks = 0;
  }
};

constexpr int side_bits[4] = {1, 2, 4, 8};  // top, right, bottom, left

// The neighbour of `cell` on side s (0 top, 1 right, 2 bottom, 3 left), 0 when there is none or
// a dike closes that side of the cell.
int open_neighbour(const olake_grid_view& g, int cell, int s) {
  const int* neighbour[4] = {g.above, g.right, g.below, g.left};
  const int k = neighbour[s][cell];
  if (k == 0) return 0;
  if (g.dikes_on && g.dike_mask != nullptr && (g.dike_mask[cell] & side_bits[s]) != 0) return 0;
  return k;
}

// The fill level of every cell (m): the lowest surface at which water standing on the cell
// can run off to where the overland water leaves the grid (the outlet cell and the overland
// boundary cells, unless a lake covers them: a lake's water does not leave through its cells),
// the highest ground on the lowest way there. A cell whose ground lies below
// its fill level is in a pit: a lake in it fills to that level, its rim, and spills beyond.
// Cells with no way out have an infinite fill level. Computed by flooding the grid upwards from
// the outlets, lowest cells first. False on a failure already reported.
bool fill_levels(const olake_grid_view& g, olake_work_storage& w) {
  if (w.fill.count() < g.cell_count && !w.fill.allocate(g.cell_count)) {
    print_huge_candidates();
    return false;
  }
  double* fill = w.fill.data();
  for (int c = 1; c <= g.cell_count; ++c) fill[c] = std::numeric_limits<double>::infinity();
  shore_heap heap{w, g.cell_count};
  bool ok = true;
  for (int c = 1; c <= g.cell_count && ok; ++c) {
    const bool outlet = c == g.outlet || (g.boundary_type != nullptr && g.boundary_type[c] != 0);
    if (!outlet || g.lake_of_cell[c] != 0) continue;
    fill[c] = g.z[c];
    ok = heap.push(c, fill[c]);
  }
  while (ok && heap.size > 0) {
    const int c = w.cells[1];
    const double level = w.keys[1];
    heap.pop();
    for (int s = 0; s < 4 && ok; ++s) {
      const int k = open_neighbour(g, c, s);
      if (k == 0 || w.listed[k]) continue;
      fill[k] = g.z[k] > level ? g.z[k] : level;
      ok = heap.push(k, fill[k]);
    }
  }
  heap.unmark();
  w.fill_cells = ok ? g.cell_count : 0;
  return ok;
}

// A rising lake gains dv (m3). It floods its shore cells in the order of their water surface,
// each once the lake's surface reaches it, together with their water, and goes on to the cells
// beyond them: it grows only over cells that connect to it, whose water it reaches and whose
// ground lies in its pit, below the pit's fill level. It rises no higher than that level, its
// rim (nor falls to it when it stood higher from the start): the water beyond is put as
// overland depth on the lowest shore cell outside the pit, over which it runs on down the
// slope. `taken` gets the water of the cells flooded and `spilled` the water put over the rim
// (m3), `spilled_to` the cell it went to when some did. False on a failure already reported.
bool rise_lake(const olake_grid_view& g, lake_record& lake, int id, double dv,
               olake_work_storage& w, double& taken, double& spilled, int& spilled_to) {
  const double area = g.dx * g.dx;
  const double* fill = w.fill.data();
  shore_heap shore{w, g.cell_count};
  auto list_shore_of = [&](int c) {
    for (int s = 0; s < 4; ++s) {
      const int k = open_neighbour(g, c, s);
      if (k == 0 || g.lake_of_cell[k] != 0 || w.listed[k]) continue;
      if (!shore.push(k, g.z[k] + g.h[k])) return false;
    }
    return true;
  };
  bool ok = true;
  double pit_fill = std::numeric_limits<double>::infinity();
  for (int c = 1; c <= g.cell_count && ok; ++c) {
    if (g.lake_of_cell[c] != id) continue;
    if (fill[c] < pit_fill) pit_fill = fill[c];
    ok = list_shore_of(c);
  }
  const double rim = pit_fill > lake.surface_elev ? pit_fill : lake.surface_elev;
  auto in_pit = [&](int k) { return g.z[k] < pit_fill && fill[k] >= pit_fill; };

  taken = 0.0;
  spilled = 0.0;
  double surface = lake.surface_elev;
  double rest = dv;
  int n = lake.num_cells;
  int spill_cell = 0;
  while (ok && shore.size > 0) {
    const int k = w.cells[1];
    const double key = w.keys[1];
    if (!in_pit(k)) {
      // Beyond the pit: never flooded; the lowest such cell takes what spills over the rim.
      if (spill_cell == 0) spill_cell = k;
      shore.pop();
      continue;
    }
    if (!(key < rim)) break;
    const double reach = n * (key - surface) * area;
    if (!(reach < rest)) break;
    // The lake reaches the cell's water surface with volume to spare: the cell joins with its
    // water, and the cells beyond it become shore cells.
    shore.pop();
    rest -= reach;
    surface = key;
    g.lake_of_cell[k] = id;
    ++n;
    taken += g.h[k] * area;
    g.h[k] = 0.0;
    ok = list_shore_of(k);
  }
  // Full to the rim: the water above it goes over the lowest cell outside the pit.
  const double room = n * (rim - surface) * area;
  if (ok && rest > room) {
    while (spill_cell == 0 && shore.size > 0) {
      if (!in_pit(w.cells[1])) spill_cell = w.cells[1];
      shore.pop();
    }
    if (spill_cell != 0) {
      spilled = rest - room;
      rest = room;
      g.h[spill_cell] += spilled / area;
      spilled_to = spill_cell;
    }
  }
  shore.unmark();
  if (!ok) return false;
  lake.surface_elev = surface + rest / (n * area);
  if (spilled > 0.0) lake.surface_elev = rim;
  lake.num_cells = n;
  return true;
}

// A falling lake loses |dv| (m3): its surface goes down, giving back the cells it took in
// (never the cells of its map extent) as the surface passes below their ground, highest ground
// first, each without water. A lake may not fall below the surface it started from. Returns
// false on a failure already reported.
bool fall_lake(const olake_grid_view& g, int id, lake_record& lake, double dv,
               olake_work_storage& w) {
  const double area = g.dx * g.dx;
  int m = 0;
  for (int c = 1; c <= g.cell_count; ++c) {
    if (g.lake_of_cell[c] != id || g.initial[c] >= 1) continue;
    if (!make_room(w, m + 1, m, 0, g.cell_count)) return false;
    ++m;
    w.cells[m] = c;
    w.keys[m] = -g.z[c];
  }
  if (m > 1 && !sort2(m, w.keys.data(), w.cells.data())) return false;

  double surface = lake.surface_elev;
  double demand = -dv;
  int n = lake.num_cells;
  for (int j = 1; j <= m; ++j) {
    const int k = w.cells[j];
    // The cell stays while the surface, lowered by what is left to give, still covers it.
    if (g.z[k] <= surface - demand / (n * area)) break;
    if (g.z[k] < surface) {
      demand -= n * (surface - g.z[k]) * area;
      surface = g.z[k];
    }
    g.lake_of_cell[k] = 0;
    --n;
    if (n < 1) {
      printf("Not enough volume in lake %d to satisfy drainage demand.\n", id);
      printf("Program stopped in olake_extent\n");
      stop_now();
      return false;
    }
  }
  surface -= demand / (n * area);
  lake.num_cells = n;
  lake.surface_elev = surface;
  if (lake.card_elev - surface > still_level) {
    printf("Lake %d is being drained below its' original elevation.  This is not\n", id);
    printf("allowed.  Re-size your initial lake. Program stopped.\n");
    stop_now();
    return false;
  }
  return true;
}

}  // namespace

bool sort2(int n, double* keys, int* items) {
  int stack[sort_stack_size + 1];
  int top = 0;
  int lo = 1, hi = n;
  for (;;) {
    if (hi - lo + 1 < insertion_below) {
      for (int j = lo + 1; j <= hi; ++j) {
        const double key = keys[j];
        const int item = items[j];
        int i = j - 1;
        for (; i >= lo && keys[i] > key; --i) {
          keys[i + 1] = keys[i];
          items[i + 1] = items[i];
        }
        keys[i + 1] = key;
        items[i + 1] = item;
      }
      if (top == 0) return true;
      hi = stack[top--];
      lo = stack[top--];
      continue;
    }
    // Median of the first, middle and last keys as the pivot, moved to lo + 1, with the
    // smaller key at lo and the larger at hi as sentinels of the scans.
    swap_entries(keys, items, (lo + hi) / 2, lo + 1);
    if (keys[lo] > keys[hi]) swap_entries(keys, items, lo, hi);
    if (keys[lo + 1] > keys[hi]) swap_entries(keys, items, lo + 1, hi);
    if (keys[lo] > keys[lo + 1]) swap_entries(keys, items, lo, lo + 1);
    int i = lo + 1, j = hi;
    const double pivot = keys[lo + 1];
    const int pivot_item = items[lo + 1];
    for (;;) {
      do ++i;
      while (keys[i] < pivot);
      do --j;
      while (keys[j] > pivot);
      if (j < i) break;
      swap_entries(keys, items, i, j);
    }
    keys[lo + 1] = keys[j];
    items[lo + 1] = items[j];
    keys[j] = pivot;
    items[j] = pivot_item;
    top += 2;
    if (top > sort_stack_size) {
      printf("NSTACK too small in sort2, called by olake_extent.  This is likely caused\n");
      printf("by the lake growth/shrinkage algorithm being stifled by too many grid cells\n");
      printf("with exactly the same elevation.  A likely fix is to make sure that your lake\n");
      printf("does not have flat topography. Program stopped.\n");
      stop_now();
      return false;
    }
    // The larger part waits on the stack; the smaller is sorted first.
    if (hi - i + 1 >= j - lo) {
      stack[top] = hi;
      stack[top - 1] = i;
      hi = j - 1;
    } else {
      stack[top] = j - 1;
      stack[top - 1] = lo;
      lo = i;
    }
  }
}

double olake_total_volume(const olake_grid_view& g, int lake_count, const lake_record* lakes) {
  const double area = g.dx * g.dx;
  double v = 0.0;
  for (int c = 1; c <= g.cell_count; ++c) {
    const int lake = g.lake_of_cell[c];
    if (lake >= 1 && lake <= lake_count) v += (lakes[lake].surface_elev - g.z[c]) * area;
  }
  return v;
}

bool olake_extent(const olake_grid_view& g, int lake_count, lake_record* lakes, double& volume_in,
                  overland_lake_books& books) {
  olake_work_storage& w = books.work;
  if (g.cell_count < 1 || !(g.dx > 0.0)) return true;
  if (w.listed.count() < g.cell_count) {
    if (!w.listed.allocate(g.cell_count)) {
      print_huge_candidates();
      return false;
    }
  }
  if (w.fill_cells != g.cell_count && !fill_levels(g, w)) return false;
  const double area = g.dx * g.dx;
  for (int id = 1; id <= lake_count; ++id) {
    lake_record& lake = lakes[id];
    // A lake id of the map that holds no cell has no surface to move.
    if (lake.num_cells < 1) continue;
    // A change too small to move the surface waits for the next step's.
    const double dv = lake.rain_volume + lake.held_volume;
    lake.held_volume = 0.0;
    if (std::fabs(dv / (lake.num_cells * area)) < still_level) {
      lake.held_volume = dv;
      continue;
    }
    const double v0 = lake_water(g, id, lake.surface_elev);
    double taken = 0.0;
    double spilled = 0.0;
    if (dv > 0.0) {
      if (!rise_lake(g, lake, id, dv, w, taken, spilled, lake.spill_cell)) return false;
      volume_in += dv + taken;
      books.olake_volume_out += spilled;
      lake.spilled += spilled;
    } else {
      if (!fall_lake(g, id, lake, dv, w)) return false;
      books.olake_volume_out += -dv;
    }
    lake.volume += dv + taken - spilled;
    const double v1 = lake_water(g, id, lake.surface_elev);
    books.olake_balance_error += dv + v0 + taken - spilled - v1;
  }
  return true;
}

void overland_lake_step(model_state& ms) {
  overland_state& ov = ms.overland;
  if (!ov.overland_lake_map || !ov.olake_changed) return;
  const int n = ms.cell_count;
  raw_array1d<int>* per_cell[] = {&ov.abovecon, &ov.rightcon,        &ov.belowcon,
                                  &ov.leftcon,  &ov.oland_lake_mask, &ov.oland_lake_new};
  bool ready = ms.cell_elev.count() >= n && ov.ov_depth.count() >= n &&
               ov.ov_lakes.count() >= ov.olake_count;
  for (raw_array1d<int>* a : per_cell) ready = ready && !a->empty() && a->count() >= n;
  if (!ready) {
    stop_with_message("Error: the overland lake arrays of %d cells were not set up.\n", n);
    return;
  }
  olake_grid_view g;
  g.cell_count = n;
  g.dx = ms.gridsize;
  g.z = ms.cell_elev.data();
  g.h = ov.ov_depth.data();
  g.above = ov.abovecon.data();
  g.right = ov.rightcon.data();
  g.below = ov.belowcon.data();
  g.left = ov.leftcon.data();
  g.initial = ov.oland_lake_mask.data();
  g.lake_of_cell = ov.oland_lake_new.data();
  g.outlet = ms.outlet_cell;
  g.boundary_type =
      ov.ov_boundary && ov.boundary_type.count() >= n ? ov.boundary_type.data() : nullptr;
  g.dikes_on = ov.dike_map_on && ov.dike_mask.count() >= n;
  g.dike_mask = g.dikes_on ? ov.dike_mask.data() : nullptr;

  lake_record* lakes = ov.ov_lakes.data();
  ov.olake_books.olake_volume = olake_total_volume(g, ov.olake_count, lakes);
  olake_extent(g, ov.olake_count, lakes, ov.olake_volume_in, ov.olake_books);
  for (int lake = 1; lake <= ov.olake_count; ++lake) lakes[lake].rain_volume = 0.0;
  ov.olake_changed = 0;
}
