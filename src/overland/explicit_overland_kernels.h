// The cell kernels of the explicit overland scheme's plain faces, on raw arrays and the face
// stencil: the face pass (each cell's right and lower face), the depth update that gathers
// each cell's change from its four faces, and the depth power of Manning's formula. Each comes
// as an 8-wide vector kernel and as a scalar one; a run uses one of them for every cell, so the
// results do not depend on how the cells are shared among threads. ov_route_explicit calls
// them on each worker's share of cells.
#pragma once

#include "overland/face_stencil.h"

// What the kernels read and write. Per-cell arrays are one-based, cells 1..cell_count.
struct ov_kernel_view {
  int cell_count = 0;
  double dx = 0.0;                             // m
  double* depth = nullptr;                     // m: h, updated by the depth update
  double* saved = nullptr;                     // m: depths at the start of the routed step
  const double* retention = nullptr;           // m
  const double* roughness = nullptr;           // Manning n
  const double* slope_x = nullptr;             // bed slope towards the right neighbour
  const double* slope_y = nullptr;             // bed slope towards the neighbour below
  const unsigned char* plain_faces = nullptr;  // face_stencil::plain_faces
  const face_run* runs = nullptr;              // face_stencil::runs, 1..run_count
  int run_count = 0;
  // Per cell: (h - r)^(5/3) when h is above the retention depth r, 0 when not above it, and
  // -1 when r > h (the cell passes nothing across its own faces).
  double* power = nullptr;
  double* flux_x = nullptr;  // m2/s: unit-width discharge of each cell's right face
  double* flux_y = nullptr;  // m2/s: the same for the lower face
};

// Face pass over the plain faces of cells lo..hi (run `first_run` holds lo): the discharge of
// each cell's right and lower face into flux_x and flux_y (0 for a closed face, a face that
// takes the wetland formula, or an owner below its retention depth) by the face law, held to the
// cap on the water-surface difference a face may move in tau seconds; in fails[0] (right faces)
// and fails[1] (lower faces) the number of faces failing the sub-step test for tau seconds, and
// in fails[2] and fails[3] those whose discharge the cap cut across a surface difference above
// ov_cap_failing_difference.
void ov_plain_faces_scalar(const ov_kernel_view& v, int first_run, int lo, int hi, double tau,
                           int fails[4]);
// The vector pass can also make the powers of cells lo..hi as it goes (make_power), from the
// depths and retention depths, instead of reading those of a depth update; it then reads no
// power of another worker's cells from the array.
void ov_plain_faces_wide(const ov_kernel_view& v, int first_run, int lo, int hi, double tau,
                         int fails[4], bool make_power);

// Where the depth update takes a cell's new depth from.
enum class ov_depth_source {
  kept,                // h as it is: the depths have not moved since the start of the routed step
  restored,            // h = saved, the depths at the start of the routed step
  gathered,            // h += the water of the cell's four faces
  saved_and_gathered,  // saved = h (the start of the routed step), then gathered
};

// Depth update of cells lo..hi: the new depth from `source`, gathered as h += the water of the
// cell's four faces over per_q = tau / dx (minus its own right and lower faces' discharges,
// plus those of its left and upper neighbours); then, with power set, the cell's power from
// the new depth (the last sub-step of a step needs none). A flux_scale other than 0 (only with
// a gathered source, on the last sub-step) multiplies the discharges by it once no cell of
// lo..hi reads them any more: every face of the share except those ov_scale_share_end leaves
// for after the pass (the right face of cell hi and the lower faces read by cells past hi).
void ov_depth_update_scalar(const ov_kernel_view& v, int first_run, int lo, int hi,
                            ov_depth_source source, bool power, double per_q, double flux_scale);
void ov_depth_update_wide(const ov_kernel_view& v, int first_run, int lo, int hi,
                          ov_depth_source source, bool power, double per_q, double flux_scale);

// After a depth update with flux_scale over the share lo..hi, the discharges that cells past hi
// read: the right face of cell hi and the lower faces of the cells whose neighbour below lies past
// hi, multiplied by flux_scale. `largest_below` bounds the offset to the cell below over the whole
// stencil. Call once every share's update is done.
void ov_scale_share_end(const ov_kernel_view& v, int lo, int hi, int largest_below,
                        double flux_scale);
