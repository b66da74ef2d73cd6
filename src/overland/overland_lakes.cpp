// Overland lake extent, the time-loop step after groundwater: each overland lake takes the
// volume change its cells collected during the step into its flat water surface, flooding the
// neighbouring cells below that surface level group by level group as it rises and giving back
// the cells it took in as it falls. Serial: the lakes are updated one after the other.
#include "overland/overland_lakes.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "framework/core/error_state.h"
#include "framework/model_state.h"
#include "overland/overland_steps.h"

namespace {

constexpr double level_tolerance = 0.0001;  // m: keys this close flood or drain as one level
constexpr double still_level = 1e-10;       // m: a smaller change of level moves nothing
constexpr int insertion_below = 7;          // sort: runs shorter than this by straight insertion
constexpr int sort_stack_size = 50;         // sort: entries of the partition stack

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

// Room for `needed` listed cells and as many level groups. The storage starts at an eighth of
// the grid and doubles as a lake needs more, up to the cells of the grid: a lake can list no
// more cells than the grid holds. False, after the message, only when the memory runs out.
bool make_room(olake_work_storage& w, int needed, int kept, int cell_count) {
  if (w.cells.count() >= needed && w.keys.count() >= needed && w.group_first.count() >= needed &&
      w.group_cum.count() >= needed)
    return true;
  int size = w.cells.count() > 0 ? w.cells.count() : cell_count / 8;
  if (size < 16) size = 16;
  while (size < needed && size < cell_count) size = size > cell_count / 2 ? cell_count : size * 2;
  if (size < needed) size = needed;
  if (!grow_keeping(w.cells, size, kept) || !grow_keeping(w.keys, size, kept) ||
      !grow_keeping(w.group_first, size, 0) || !grow_keeping(w.group_cum, size, 0)) {
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

// Groups the sorted keys 1..m: a key within level_tolerance of the first key of the current
// group belongs to it. Returns the group count; group_first and group_cum are filled.
int group_levels(olake_work_storage& w, int m) {
  int groups = 1;
  w.group_first[1] = 1;
  w.group_cum[1] = 1;
  for (int j = 2; j <= m; ++j) {
    if (std::fabs(w.keys[j] - w.keys[w.group_first[groups]]) < level_tolerance) {
      ++w.group_cum[groups];
      continue;
    }
    ++groups;
    w.group_first[groups] = j;
    w.group_cum[groups] = w.group_cum[groups - 1] + 1;
  }
  return groups;
}

// A rising lake: lists the neighbours below the tentative surface `rise_to`, then floods them
// level by level. Returns false on a failure already reported; `taken` gets the water of the
// cells taken in (m3).
bool rise_lake(const olake_grid_view& g, int id, lake_record& lake, double dv, double rise_to,
               double& volume_in, olake_work_storage& w, double& taken) {
  const double area = g.dx * g.dx;
  const int sides[4] = {1, 2, 4, 8};
  const int* neighbour[4] = {g.above, g.right, g.below, g.left};
  int m = 0;
  for (int c = 1; c <= g.cell_count; ++c) {
    if (g.lake_of_cell[c] != id) continue;
    for (int s = 0; s < 4; ++s) {
      const int k = neighbour[s][c];
      if (k == 0 || g.lake_of_cell[k] != 0) continue;
      if (g.dikes_on && g.dike_mask != nullptr && (g.dike_mask[c] & sides[s]) != 0) continue;
      const double surface = g.z[k] + g.h[k];
      // Each cell is listed once, however many of the lake's cells it borders.
      if (!(surface < rise_to) || w.listed[k]) continue;
      if (!make_room(w, m + 1, m, g.cell_count)) {
        for (int j = 1; j <= m; ++j) w.listed[w.cells[j]] = 0;
        return false;
      }
      ++m;
      w.cells[m] = k;
      w.keys[m] = surface;
      w.listed[k] = 1;
    }
  }
  for (int j = 1; j <= m; ++j) w.listed[w.cells[j]] = 0;

  taken = 0.0;
  if (m == 0) {
    lake.surface_elev = rise_to;
    lake.volume += dv;
    volume_in += dv;
    return true;
  }
  if (m == 1) {
    const int k = w.cells[1];
    const double n = lake.num_cells;
    lake.surface_elev = (n * lake.surface_elev + dv / area + w.keys[1]) / (n + 1.0);
    g.lake_of_cell[k] = id;
    ++lake.num_cells;
    taken = g.h[k] * area;
    g.h[k] = 0.0;
    lake.volume += dv + taken;
    volume_in += dv + taken;
    return true;
  }

  if (!sort2(m, w.keys.data(), w.cells.data())) return false;
  const int groups = group_levels(w, m);
  const double n = lake.num_cells;
  // Volume needed to raise the lake to the level of group g, the lake's cells and the groups
  // below g flooding together; the lake stops in the last group it can reach.
  auto level = [&](int grp) { return w.keys[w.group_first[grp]]; };
  double reach = (level(1) - lake.surface_elev) * n * area;
  int grp = 1;
  while (grp < groups) {
    const double next = reach + (n + w.group_cum[grp]) * (level(grp + 1) - level(grp)) * area;
    if (next > dv) break;
    reach = next;
    ++grp;
  }
  const double surface = level(grp) + (dv - reach) / ((n + w.group_cum[grp]) * area);
  for (int j = 1; j <= m; ++j) {
    const int k = w.cells[j];
    if (!(surface > g.z[k])) continue;
    g.lake_of_cell[k] = id;
    ++lake.num_cells;
    taken += g.h[k] * area;
    g.h[k] = 0.0;
  }
  lake.surface_elev = surface;
  lake.volume += dv + taken;
  volume_in += dv + taken;
  return true;
}

// A falling lake: lowers the surface by |dv|, giving back the cells it took in (never the cells
// of its map extent) as they fall dry, highest ground first. Returns false on a failure already
// reported.
bool fall_lake(const olake_grid_view& g, int id, lake_record& lake, double dv, double fall_to,
               overland_lake_books& books) {
  const double area = g.dx * g.dx;
  olake_work_storage& w = books.work;
  books.olake_volume_out += std::fabs(dv);

  // Only this lake's own cells count: the cells it took in beyond its map extent are the ones
  // it may give back, and its map cells all lie at or below its lowest surface.
  bool ground_above = false;
  int m = 0;
  for (int c = 1; c <= g.cell_count; ++c) {
    if (g.lake_of_cell[c] != id) continue;
    if (g.z[c] > fall_to) ground_above = true;
    if (g.initial[c] >= 1) continue;
    if (!make_room(w, m + 1, m, g.cell_count)) return false;
    ++m;
    w.cells[m] = c;
    w.keys[m] = fall_to - g.z[c];
  }

  double surface = fall_to;
  if (ground_above && m > 0) {
    if (!sort2(m, w.keys.data(), w.cells.data())) return false;
    // Group by ground elevation, highest first.
    for (int j = 1; j <= m; ++j) w.keys[j] = g.z[w.cells[j]];
    const int groups = group_levels(w, m);
    const double n = lake.num_cells;
    auto level = [&](int grp) { return w.keys[w.group_first[grp]]; };
    const double demand = std::fabs(dv);
    double released = (lake.surface_elev - level(1)) * n * area;
    int grp = 1;
    double stop_volume = released;
    while (grp < groups) {
      const double next = released + (n - w.group_cum[grp]) * (level(grp) - level(grp + 1)) * area;
      stop_volume = next;
      if (next > demand) break;
      released = next;
      stop_volume = released;
      ++grp;
    }
    const double wet = (n - w.group_cum[grp]) * area;
    if (stop_volume < 0.0 || !(wet > 0.0)) {
      printf("Not enough volume in lake %d to satisfy drainage demand.\n", id);
      printf("Program stopped in olake_extent\n");
      stop_now();
      return false;
    }
    surface = level(grp) + (released + dv) / wet;
  }

  // The lake never falls below its lowest surface; the water the step asked of it beyond that
  // is booked as the floor's water by the caller's balance.
  if (surface < lake.card_elev) surface = lake.card_elev;
  for (int j = 1; j <= m; ++j) {
    const int k = w.cells[j];
    if (g.z[k] > surface) {
      g.lake_of_cell[k] = 0;
      --lake.num_cells;
    }
  }
  lake.surface_elev = surface;
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
  const double area = g.dx * g.dx;
  for (int id = 1; id <= lake_count; ++id) {
    lake_record& lake = lakes[id];
    const double dv = lake.rain_volume;
    // A lake id of the map that holds no cell has no surface to move.
    if (lake.num_cells < 1) continue;
    const double v0 = lake_water(g, id, lake.surface_elev);
    const double change = dv / (lake.num_cells * area);
    if (std::fabs(change) < still_level) continue;
    const double tentative = lake.surface_elev + change;
    double taken = 0.0;
    double floor_water = 0.0;
    if (dv > 0.0) {
      if (!rise_lake(g, id, lake, dv, tentative, volume_in, w, taken)) return false;
    } else {
      if (!fall_lake(g, id, lake, dv, tentative, books)) return false;
      // Held at its lowest surface, the lake keeps water that the step's outflow already
      // carried away: that water is the floor's, booked so that the lake's books close.
      if (lake.surface_elev <= lake.card_elev) {
        const double left = lake_water(g, id, lake.surface_elev) - (v0 + dv);
        if (left > 0.0) floor_water = left;
      }
      lake.volume += dv + floor_water;
      books.olake_floor_volume += floor_water;
    }
    const double v1 = lake_water(g, id, lake.surface_elev);
    books.olake_balance_error += dv + v0 + taken + floor_water - v1;
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
  g.dikes_on = ov.dike_map_on && ov.dike_mask.count() >= n;
  g.dike_mask = g.dikes_on ? ov.dike_mask.data() : nullptr;

  lake_record* lakes = ov.ov_lakes.data();
  ov.olake_books.olake_volume = olake_total_volume(g, ov.olake_count, lakes);
  olake_extent(g, ov.olake_count, lakes, ov.olake_volume_in, ov.olake_books);
  for (int lake = 1; lake <= ov.olake_count; ++lake) lakes[lake].rain_volume = 0.0;
  ov.olake_changed = 0;
}
