#pragma once
// Fixtures for the driver tests: the installed driver loaded afresh through the stand-in
// host, or the static driver core hosted in the test binary itself.

#include <gtest/gtest.h>
#include <openvr_driver.h>

#include <string>
#include <vector>

#include "sim/host/driver_host.h"

namespace quenlark::test {

// Removes the fixed shared pose block name, so that a test that creates the block starts
// from no section at all (an earlier failed test may have left one behind).
void RemoveSharedPoseBlockName();

// The host's calls of the given kinds, in order.
std::vector<sim::HostCall> CallsOf(const sim::DriverHost& host,
                                   std::initializer_list<sim::HostCall::Kind> kinds);

// The installed driver folder, loaded in SetUp. TearDown cleans up as the runtime would and
// unloads; a library that stayed mapped would carry its state into the next test.
class InstalledDriver : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Init, then Activate(objectId); asserts both succeed.
    void InitAndActivate(uint32_t objectId);

    sim::DriverHost host;
    bool activated = false;
};

// The static core hosted through UseFactory, so that tests reach its internals: the
// pending button events, the device's members. The core's process-wide state persists
// between tests of one binary, so SetUp resets what a test may have changed and TearDown,
// once the driver's threads have ended, drops the SDK's context, which points into this
// fixture's host.
class CoreDriver : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    void InitAndActivate(uint32_t objectId);

    sim::DriverHost host;
    bool activated = false;
};

}  // namespace quenlark::test
