// Channel and pipe networks: the member record of the run's model_state that holds the link and
// node arrays, structures and channel files.
#pragma once

struct channel_state {};
