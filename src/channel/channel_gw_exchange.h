// Seepage between the channels and the aquifer beneath them: through the stream bed of every
// grid-stream entry (per unit channel length, positive into the channel) and through the bed of
// channel lakes (per lake cell). The kernels work on scalars; chan_gw_exchange walks the
// grid-stream table and the lake cells of a run.
#pragma once

struct model_state;

// The section of a node as the seepage sees it: the width across the bed at a depth.
struct seepage_section {
  int kind = 4;                    // 4 trapezoid, 16 compound trapezoid, 8 break-point table
  double bottom = 0.0;             // bottom width (m)
  double side_slope = 0.0;         // side slope of the main channel (horizontal per vertical)
  double flood_slope = 0.0;        // side slope above the bank-full depth (compound)
  double bankfull = 0.0;           // bank-full depth (m, compound)
  const double* widths = nullptr;  // break point: top width of levels 1..levels (index 0 unused)
  int levels = 0;                  // break point: number of levels
  double spacing = 0.0;            // break point: depth between levels (m)
};

// Width (m) across the bed at depth d.
double seepage_width(const seepage_section& s, double d);

// One grid-stream entry: its node's water and bed, its cell's aquifer.
struct bed_seepage_point {
  double depth = 0.0;           // channel depth y (m)
  double bed = 0.0;             // bed elevation B (m)
  double head = 0.0;            // groundwater head H of the cell (m)
  double aquifer_bottom = 0.0;  // Z (m)
  double ground = 0.0;          // ground elevation E of the cell (m)
  double conductivity = 0.0;    // bed conductivity (m/h)
  double thickness = 1.0;       // bed thickness (m)
};

// Seepage through the stream bed per unit channel length (m2/s, positive into the channel).
// Without a water table the channel loses y k w(y) while it holds water; with one, a head at or
// below the bed leaves the loss to the channel depth alone, and a head above it drives the
// exchange k (H - W) w by its difference with the water surface W = B + y, over the width at the
// head's height above the bed when the head is above the water surface.
double stream_bed_flux(const bed_seepage_point& p, const seepage_section& s, bool water_table);

// One channel-lake cell.
struct lake_bed_cell {
  double lake_level = 0.0;      // water surface L of the cell's lake (m)
  double ground = 0.0;          // cell elevation z (m)
  double conductivity = 0.0;    // lake-bed conductivity K (m/s)
  double thickness_cm = 0.0;    // bed thickness of the lake (cm)
  double gridsize = 0.0;        // G (m)
  double head = 0.0;            // groundwater head H (m)
  double aquifer_bottom = 0.0;  // Z (m)
  int code = 0;                 // groundwater boundary code of the cell
};

// Seepage through the lake bed of one cell (m2/s per unit of G, positive into the lake) into
// `s` when a rule sets it; false when the cell keeps its value.
bool lake_bed_seepage(const lake_bed_cell& c, bool water_table, bool groundwater, double& s);

// The exchange of the run's channels with the aquifer: qriv of every node and gst_qriv of every
// entry, and with lake seepage on the lake cells' seepage. Returns 0 when nothing exchanges, 1
// when groundwater feeds some node, 2 when the channel only loses; 0 after the message of a node
// whose depth table lies beyond the tables.
int chan_gw_exchange(model_state& ms, double* lake_seepage, bool lake_seepage_on);

// Books the stream-bed seepage of an accepted routing sub-step of h seconds to the cells under
// the nodes: each grid-stream entry's flux, scaled by what its node's volume balance let pass
// (a loss cut to the water at hand), times its share, node spacing and h, into the cell's
// cell_seepage (m3, positive into the channel).
void book_stream_seepage(model_state& ms, double h);
