// Tests being written.
#include <gtest/gtest.h>
