#include <gtest/gtest.h>

#include "system/SpecialItems.h"
#include "storage/DiskObject.h"

TEST(SpecialItemSize, UnknownItemsHaveNoSize) {
  CDiskObject disk(true, NULL);
  EXPECT_EQ(0u, SpecialItemSize("$Nothing", disk));
}
