// Culvert hydraulics: the discharge through one culvert barrel of a hydraulic-structure link from
// the water levels on its two sides, by one of six flow types (inlet or outlet control, part
// full, full, orifice), for circular, oval and box barrels. The link-end flows of the channel
// routing call culv_flow for each culvert element; the functions here take the barrel's values
// as arguments and read no channel arrays.
#pragma once

// The failure value of the culvert routines; callers compare with this exact value.
inline constexpr double culvert_failure = -9999.99;

// Barrel shapes: structure types 3 (round), 4 (oval) and 5 (rectangular) of the channel file.
enum culvert_shape : int { culvert_circular = 1, culvert_oval = 2, culvert_box = 3 };

// One culvert barrel, as the channel file's structure element gives it.
struct culvert_barrel {
  int shape = culvert_circular;       // culvert_shape
  double length = 0.0;                // Lb: barrel length (m)
  double upinvert = 0.0;              // zu: upstream invert (m)
  double downinvert = 0.0;            // zd: downstream invert (m); below 0.0001 when not given
  double slope = 0.0;                 // S0: barrel slope, used when zd is not given
  double inlet_disch_coeff = 0.0;     // Cf: discharge coefficient, flow downstream
  double rev_flow_disch_coeff = 0.0;  // Cr: discharge coefficient, flow upstream
  double rise = 0.0;                  // D: full depth of the barrel, the circle's diameter (m)
  double span = 0.0;                  // W: span of a box, size factor of the oval fits (m)
  double rough_coeff = 0.0;           // n: Manning roughness
  double inlet_coeff = 0.0;           // Ci: inlet coefficient set by the link-end flows
};

// What culv_flow gives: the discharge (m3/s, negative from the downstream to the upstream side,
// culvert_failure on a failure), the flow type (0 to 6, negative for reverse flow), a reference
// depth (the critical depth under inlet control, else D, m) and a flow area (the area at the
// critical depth under inlet control, else D^2 x 3.14 x 0.5, m2).
struct culvert_flow {
  double q = 0.0;
  int flow_type = 0;
  double ref_depth = 0.0;
  double flow_area = 0.0;
};

// Discharge through barrel `b` (structure element number `element`, for the messages) with the
// upstream level h1 and downstream level h2 (m). A headwater at or below the inlet invert, or
// below the outlet invert, passes no flow (type 0). A barrel shorter than 0.0001 m, or an inlet-
// control discharge the root finder cannot bracket or converge on, prints its lines and gives
// culvert_failure.
culvert_flow culv_flow(const culvert_barrel& b, int element, double h1, double h2);

// Flow area A (m2), wetted perimeter P (m) and top width T (m) of a barrel of rise D and span W
// filled to depth y (m), by shape.
void culv_circ_geometry(double D, double y, double W, int shape, double& A, double& P, double& T);

// Critical depth (m) of discharge Q in a barrel: circular by Newton's method on
// A sqrt(A / T) = Q / sqrt(9.81) (more than 1000 iterations set error 122, fatal, and leave yc
// unchanged), box ((Q / W)^2 / 9.81)^(1/3); the oval has none (error 123, fatal).
void culv_crit_depth(int shape, double D, double W, double Q, double& yc);

// Flow area (m2) at depth y: the circular segment, or W y for a box (0 when negative).
double culv_flow_area(int shape, double D, double W, double y);

// Energy balance of a short circular barrel under inlet control at trial discharge Q (m3/s):
// Q - A(yc) Cb sqrt(19.62) sqrt(H - yc), yc the critical depth of Q and A the flow area there.
// A head below the critical depth leaves no energy to drive flow (its root term is 0).
double culv_energy_residual(int shape, double D, double W, double Cb, double H, double Q);

// Brent's method for the root of culv_energy_residual in Q between x1 and x2 to the tolerance
// `tol`, at most 100 iterations; `iterations` gets the number of the last one. Prints its lines
// and returns culvert_failure when the root is not bracketed or does not converge.
double zbrent(int shape, double D, double W, double Cb, double H, double x1, double x2, double tol,
              int& iterations);
