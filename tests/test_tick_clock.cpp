// The tick clock: conversion of ticks to whole microseconds, multiplication first.
#include <gtest/gtest.h>

#include "io/tick_clock.hpp"

using namespace nurbs_interp;

namespace {

TEST(TickClock, MultiplyFirstConversionWithoutOverflow) {
    EXPECT_EQ(ticks_to_microseconds(1000000000, 1000000000), 1000000);
    EXPECT_EQ(ticks_to_microseconds(3579545, 3579545), 1000000);
    EXPECT_EQ(ticks_to_microseconds(999, 1000000000), 0); // truncated, not rounded
    EXPECT_EQ(ticks_to_microseconds(1999, 1000000), 1999);
    EXPECT_EQ(ticks_to_microseconds(1999, 2000000), 999);
    EXPECT_EQ(ticks_to_microseconds(-1500, 1000000000), -1); // toward zero
    // A day, and a year, at 1 GHz: ticks * 1e6 alone would overflow 64 bits after 2.5 hours.
    EXPECT_EQ(ticks_to_microseconds(86400LL * 1000000000LL + 123456, 1000000000),
              86400LL * 1000000LL + 123);
    EXPECT_EQ(ticks_to_microseconds(365LL * 86400 * 1000000000LL, 1000000000),
              365LL * 86400 * 1000000LL);
    EXPECT_GT(tick_frequency(), 0);
    const auto t0 = tick_count();
    EXPECT_GE(tick_count(), t0);
}

} // namespace
