// Option checks: tests the chosen options of a project against each other before any file is
// opened, with a coded message for every conflict.
#pragma once

struct model_state;

void check_project_options(model_state& ms);

// Refuses the first card whose process or input this version cannot run yet (multi-layer soil,
// Richards, Sacramento, channels, pipes, transport, coupling, ...): prints one message naming
// the card and sets code 4000. Called by the run driver right after check_project_options.
void check_inputs_supported(model_state& ms);
