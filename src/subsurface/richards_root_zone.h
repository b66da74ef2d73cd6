// The root zone of the Richards soil columns: the nodes from the top down to the root depth,
// from which the columns' evapotranspiration draws. Its mean moisture is the soil moisture the
// columns hand VOLP at an event's end, and the moisture VOLP hands back between two events
// replaces its nodes' contents and heads (volp_exchange.cpp calls the whole-grid forms declared
// in subsurface_steps.h).
#pragma once

#include "subsurface/richards_column.h"

struct subsurface_state;

// Depth of a cell's root zone (cm): the top layer of its soil type (0 for a type outside the
// table).
double richards_root_zone_depth(const subsurface_state& ss, int c);

// Nodes 1..k of a column of n nodes that lie in a root zone of root_depth cm: a node counts
// while the root depth left above its top exceeds 1e-16 cm; the bottom node n, the column's
// boundary, never counts.
int richards_root_zone_nodes(const richards_column_view& v, int n, double root_depth);

// Mean content of the root zone's nodes, weighted by their thicknesses (the content of node 1
// when the root zone holds no node).
double richards_root_zone_moisture(const richards_column_view& v, int n, double root_depth);

// Gives every node of the root zone the content theta, bounded to the node's own range by
// bound(theta, saturated content, residual content), and the head its retention function
// gives that content; the surface node copies node 1 and the soil functions of nodes 1..n
// follow the new heads. Returns the change of the column's water (cm over the cell).
double richards_root_zone_take_moisture(const richards_column_view& v, int n, int model,
                                        double root_depth, double theta,
                                        double (*bound)(double theta, double thetas,
                                                        double thetar));
