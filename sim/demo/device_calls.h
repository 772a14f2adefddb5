#pragma once
// Reads the driver's device off the calls it made into the stand-in host: which component
// handle is which input (from the Create calls of Activate), the inputs' values after each
// frame's updates, and the pose the frame reported.

#include <openvr_driver.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/demo/frame_sample.h"
#include "sim/host/driver_host.h"

namespace quenlark::demo {

class DeviceCalls {
  public:
    // Notes the handles of "/input/fire/click", "/input/fire/value", "/input/eject_mag/click"
    // and "/input/load_mag/click" from their Create calls; other calls are passed over.
    void LearnComponents(const std::vector<sim::HostCall>& calls);
    // Whether all four inputs were created.
    bool AllComponentsKnown() const;

    // Applies the updates among the calls to the inputs' values and returns the last pose
    // reported among them, if any. Updates of handles not learnt are passed over.
    std::optional<vr::DriverPose_t> ApplyFrame(const std::vector<sim::HostCall>& calls);

    const InputStates& Inputs() const { return inputs_; }

  private:
    static constexpr std::uint64_t kUnknown = ~std::uint64_t{0};
    std::uint64_t fireClick_ = kUnknown;
    std::uint64_t fireValue_ = kUnknown;
    std::uint64_t ejectMagClick_ = kUnknown;
    std::uint64_t loadMagClick_ = kUnknown;
    InputStates inputs_;
};

}  // namespace quenlark::demo
