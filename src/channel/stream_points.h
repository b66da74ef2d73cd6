// Stream inflow points: the points of the XYBDYINPUT_STFLOW and XYBDYINPUT_STTIMESERIES files
// are placed on the channel network and their series become inflows of their nodes.
#pragma once

struct model_state;

// Gives every stream inflow point without a LINKNODE line the computational node nearest its
// x and y, over the links with a channel section (type bit 4, 8 or 16) and more than one node; a
// computational node lies midway between the X_Y points of its NODE card and the next one. Each
// point's series then feeds its node as a point inflow of the routing, booked with the channel
// point sources. A point without a series, a node that already has a point-source series or
// another point, a LINKNODE outside the network, or a network without node coordinates stops
// the run with a message naming the point.
void place_stream_inflow_points(model_state& ms);
