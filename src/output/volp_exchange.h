// The bounds the model puts on the grids VOLP returns between two events of a TEV run.
#pragma once

// The soil moisture VOLP returns for a cell, kept within the soil's range: a value above the
// porosity becomes 99 % of the way from the residual content to the porosity, and a value at or
// below the residual content 1 % of that way, so that the wetting front always meets a deficit.
double volp_moisture_bounded(double theta, double porosity, double residual);

// The roughness VOLP returns for a cell; none or a negative one becomes the default 0.04.
double volp_roughness_or_default(double n);
