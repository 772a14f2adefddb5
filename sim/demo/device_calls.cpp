#include "sim/demo/device_calls.h"

namespace quenlark::demo {

using Kind = sim::HostCall::Kind;

void DeviceCalls::LearnComponents(const std::vector<sim::HostCall>& calls) {
    for (const sim::HostCall& call : calls) {
        if (call.kind == Kind::CreateBooleanComponent) {
            if (call.text == "/input/fire/click") {
                fireClick_ = call.component;
            } else if (call.text == "/input/eject_mag/click") {
                ejectMagClick_ = call.component;
            } else if (call.text == "/input/load_mag/click") {
                loadMagClick_ = call.component;
            }
        } else if (call.kind == Kind::CreateScalarComponent && call.text == "/input/fire/value") {
            fireValue_ = call.component;
        }
    }
}

bool DeviceCalls::AllComponentsKnown() const {
    return fireClick_ != kUnknown && fireValue_ != kUnknown && ejectMagClick_ != kUnknown &&
           loadMagClick_ != kUnknown;
}

std::optional<vr::DriverPose_t> DeviceCalls::ApplyFrame(const std::vector<sim::HostCall>& calls) {
    std::optional<vr::DriverPose_t> pose;
    for (const sim::HostCall& call : calls) {
        if (call.kind == Kind::UpdateBooleanComponent) {
            if (call.component == fireClick_) {
                inputs_.fireClick = call.boolValue;
            } else if (call.component == ejectMagClick_) {
                inputs_.ejectMagClick = call.boolValue;
            } else if (call.component == loadMagClick_) {
                inputs_.loadMagClick = call.boolValue;
            }
        } else if (call.kind == Kind::UpdateScalarComponent && call.component == fireValue_) {
            inputs_.fireValue = call.scalarValue;
        } else if (call.kind == Kind::PoseUpdated) {
            pose = call.pose;
        }
    }
    return pose;
}

}  // namespace quenlark::demo
