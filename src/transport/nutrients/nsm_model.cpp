// Nutrient sub-model container: the record that the NUTRIENTS project card creates. Its
// members start empty (every input mode 0, every output switch 0) through their initialisers.
#include "transport/nutrients/nsm_model.h"
