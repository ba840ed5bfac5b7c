// Checks of the format pieces where a reader would not notice a fault.
#include <gtest/gtest.h>
