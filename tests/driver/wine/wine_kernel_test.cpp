#include "disk_rig.h"
#include <gtest/gtest.h>
TEST(Placeholder, Nothing) {}
