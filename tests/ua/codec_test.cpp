#include <gtest/gtest.h>

#include "ua/client.h"
TEST(Codec, Placeholder) {}
