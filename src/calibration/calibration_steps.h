// Services of the calibration subsystem that the other subsystems call: the result holder
// through which a run reports each finished event's peaks and volumes to its calibration driver.
#pragma once

#include "calibration/run_result.h"
