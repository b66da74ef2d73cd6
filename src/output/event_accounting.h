// End-of-event accounting: the event's books are opened at its first step and closed at the
// step after its end, when the summary, the optimisation line and the result holder get the
// event's values.
#pragma once

struct model_state;

// Overland water of every cell (m3), an overland-lake cell counting its lake's depth over it;
// cells of perennial lakes count nothing.
double overland_store(const model_state& ms);
