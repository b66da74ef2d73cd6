// Option checks: tests the chosen options of a project against each other before any file is
// opened, with a coded message for every conflict.
#pragma once

struct model_state;

void check_project_options(model_state& ms);
