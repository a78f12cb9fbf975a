// Jerk-limited ramps and rest-to-rest moves: their limits, end points and lengths, and the
// sampled move that ends just short of its target.
#include <gtest/gtest.h>

#include <cmath>

#include "plan/feed_ramp.hpp"
#include "core/interpolate.hpp" // SERVO_PERIOD

using namespace nurbs_interp;

namespace {

constexpr double PERIOD = SERVO_PERIOD;

TEST(FeedRamp, RampsMeetTheirLimitsAndEndpoints) {
    // Large change: the acceleration limit is reached; small change: a pure jerk ramp.
    const feed_ramp big = feed_ramp_plan(0, 250, 2500, 50000);
    EXPECT_DOUBLE_EQ(big.tj, 0.05);
    EXPECT_DOUBLE_EQ(big.ta, 0.05);
    const feed_ramp small = feed_ramp_plan(100, 90, 2500, 50000);
    EXPECT_EQ(small.ta, 0.0);
    EXPECT_DOUBLE_EQ(small.tj, std::sqrt(10.0 / 50000));
    double v, a, j;
    feed_ramp_eval(small, feed_ramp_time(small), &v, &a, &j);
    EXPECT_EQ(v, 90.0);
    EXPECT_EQ(a, 0.0);
    // The ramp's length is its mean feed times its duration: integrate v numerically.
    const int n = 100000;
    double s = 0;
    for (int k = 0; k < n; ++k) {
        feed_ramp_eval(big, (k + 0.5) * feed_ramp_time(big) / n, &v, &a, &j);
        s += v * feed_ramp_time(big) / n;
    }
    EXPECT_NEAR(s, feed_ramp_length(big), 1e-6);
}

TEST(FeedRamp, ShortMoveLowersItsPeakAndKeepsItsLength) {
    // 10 mm cannot reach 250 mm/s with these limits (the two ramps alone need 25 mm).
    const feed_move m = feed_move_plan(10.0, 250, 2500, 50000);
    EXPECT_LT(m.peak, 250.0);
    EXPECT_EQ(m.cruise, 0.0);
    const feed_profile p = feed_move_sample(m, PERIOD);
    EXPECT_NEAR(feed_profile_travel(p, PERIOD), 10.0, 1e-6);
    EXPECT_EQ(p.v.front(), 0.0);
    EXPECT_EQ(p.v.back(), 0.0);
}

TEST(FeedRamp, FittedMoveEndsJustShortOfItsTargetAndRefusesHugeWork) {
    for (double len : {0.3, 10.0, 3498.8}) {
        const sampled_move m = feed_move_fit(len, 250, 2500, 50000, PERIOD);
        EXPECT_LE(feed_profile_travel(m.profile, PERIOD), len) << len;
        // Planned shorter by the excess plus 1e-9 of the length: within 2e-9 of it.
        EXPECT_GT(feed_profile_travel(m.profile, PERIOD), len * (1 - 2e-9)) << len;
    }
    // 100 mm at 1 um/s takes 1e5 s: 4e8 samples, refused before any is made.
    EXPECT_THROW(feed_move_fit(100.0, 1e-3, 2500, 50000, PERIOD), std::length_error);
    EXPECT_THROW(feed_move_fit(1e308, 250, 2500, 50000, PERIOD), std::length_error);
}

} // namespace
