// Geometry of a partly full pipe and its two characteristic depths, for the three sections of
// the pipe network: 1 circular, 2 arch, 3 rectangular (closed box). Lengths in metres, flows in
// m3/s. The network solve calls them for every segment and at the ends of every superlink.
#pragma once

inline constexpr int pipe_circular = 1;
inline constexpr int pipe_arch = 2;
inline constexpr int pipe_box = 3;

// Flow area, wetted perimeter and top width of a pipe of height (diameter) D and width W at
// depth y. A full circular or box pipe has top width 0; an arch's relative depth is capped at 1.
// Types other than 1..3 leave the outputs unchanged.
void superlink_xsec_props(double D, double y, double W, int type, double& area, double& perimeter,
                          double& top_width);

// Flow area of a circular (type 1) pipe at depth y (full above D), or W y for a box (type 3, no
// cap at D); 0 for other types.
double superlink_xsec_area(int type, double D, double W, double y);

// Critical depth (Q^2 / g = A^3 / T) of the flow |Q|: the closed form for a box, Newton's method
// on the height of the centre above the surface for a circular pipe, bisection for an arch.
// Returns 0 with the depth in `yc`, or -1 (message printed, `yc` unchanged) when the iteration
// does not converge.
int superlink_crit_calc(int type, double D, double W, double Q, double& yc);

// Normal depth (Q = A R^(2/3) S^(1/2) / n) of the flow |Q| on slope |S|: Newton's method with the
// exact derivative for circular and box pipes, bisection for an arch. A flow at or above what the
// full pipe carries, or a slope or roughness of 0, gives the full depth D. Returns 0 with the
// depth in `yn`, or -1 (message printed, `yn` unchanged) when the iteration does not converge.
int superlink_norm_calc(int type, double D, double W, double n, double Q, double S, double& yn);
