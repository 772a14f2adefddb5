#include "sim/demo/rate_meter.h"

#include <gtest/gtest.h>

namespace quenlark::demo {
namespace {

TEST(RateMeter, MeasuresOverTheLastWindow) {
    RateMeter meter(1.0);
    EXPECT_EQ(meter.PerSecond(), 0.0);
    meter.Sample(10.0, 0);
    EXPECT_EQ(meter.PerSecond(), 0.0);
    // 90 per second for three seconds, sampled every frame.
    std::uint64_t total = 0;
    for (int f = 1; f <= 270; ++f) {
        total += 1;
        meter.Sample(10.0 + f / 90.0, total);
    }
    EXPECT_NEAR(meter.PerSecond(), 90.0, 1e-6);
    // Then 10 per second: after a little over a window the old rate is gone.
    double t = 13.0;
    for (int i = 0; i < 12; ++i) {
        t += 0.1;
        total += 1;
        meter.Sample(t, total);
    }
    EXPECT_NEAR(meter.PerSecond(), 10.0, 1e-6);
}

TEST(RateMeter, StartsAfreshWhenTheCounterRestarts) {
    RateMeter meter(1.0);
    meter.Sample(0.0, 1000);
    meter.Sample(0.5, 2000);
    EXPECT_NEAR(meter.PerSecond(), 2000.0, 1e-9);
    meter.Sample(0.6, 5);  // a new relay counting from zero
    EXPECT_EQ(meter.PerSecond(), 0.0);
    meter.Sample(1.1, 505);
    EXPECT_NEAR(meter.PerSecond(), 1000.0, 1e-9);
    // Samples at the same moment give no rate rather than a division by zero.
    RateMeter still(1.0);
    still.Sample(3.0, 1);
    still.Sample(3.0, 9);
    EXPECT_EQ(still.PerSecond(), 0.0);
}

}  // namespace
}  // namespace quenlark::demo
