// The controller device as the runtime meets it: what Activate declares, the component and
// debug answers, the pose before any frame, Deactivate, and activation against a runtime
// that withholds the property or input interface.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/driver/driver_fixtures.h"

namespace quenlark {
namespace {

using sim::DriverHost;
using sim::HostCall;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Kind = HostCall::Kind;

std::vector<uint8_t> StringBytes(const char* text) {
    return std::vector<uint8_t>(text, text + std::strlen(text) + 1);
}

std::vector<uint8_t> Int32Bytes(int32_t value) {
    std::vector<uint8_t> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

class Device : public test::InstalledDriver {
  protected:
    void SetUp() override {
        test::RemoveSharedPoseBlockName();
        InstalledDriver::SetUp();
    }
};

TEST_F(Device, ActivateDeclaresPropertiesThenComponentsInTheContainerOfItsObjectId) {
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    host.ClearCalls();
    ASSERT_EQ(host.Activate(7), vr::VRInitError_None);
    activated = true;

    const vr::PropertyContainerHandle_t container = DriverHost::PropertyContainerFor(7);
    const auto calls =
        test::CallsOf(host, {Kind::PropertyContainer, Kind::PropertyWrite,
                             Kind::CreateBooleanComponent, Kind::CreateScalarComponent});
    ASSERT_EQ(calls.size(), 9u);

    EXPECT_EQ(calls[0].kind, Kind::PropertyContainer);
    EXPECT_EQ(calls[0].device, 7u);
    EXPECT_EQ(calls[0].handle, container);

    struct Write {
        int32_t property;
        uint32_t tag;
        std::vector<uint8_t> bytes;
    };
    const Write writes[] = {
        {vr::Prop_InputProfilePath_String, vr::k_unStringPropertyTag,
         StringBytes("{quenlark_k7}/input/quenlark_k7_controller_profile.json")},
        {vr::Prop_ControllerType_String, vr::k_unStringPropertyTag,
         StringBytes("aaa_quenlark_k7_controller")},
        {vr::Prop_ControllerRoleHint_Int32, vr::k_unInt32PropertyTag, Int32Bytes(5)},
        {vr::Prop_ControllerHandSelectionPriority_Int32, vr::k_unInt32PropertyTag,
         Int32Bytes(999999)},
    };
    for (int i = 0; i < 4; ++i) {
        const HostCall& call = calls[1 + i];
        SCOPED_TRACE("property write " + std::to_string(i + 1));
        EXPECT_EQ(call.kind, Kind::PropertyWrite);
        EXPECT_EQ(call.handle, container);
        EXPECT_EQ(call.property, writes[i].property);
        EXPECT_EQ(call.writeType, vr::PropertyWrite_Set);
        EXPECT_EQ(call.typeTag, writes[i].tag);
        EXPECT_EQ(call.bytes, writes[i].bytes);
    }
    EXPECT_EQ(vr::Prop_InputProfilePath_String, 1037);
    EXPECT_EQ(vr::Prop_ControllerType_String, 7000);
    EXPECT_EQ(vr::Prop_ControllerRoleHint_Int32, 3007);
    EXPECT_EQ(vr::Prop_ControllerHandSelectionPriority_Int32, 7002);

    struct Component {
        Kind kind;
        const char* path;
    };
    const Component components[] = {{Kind::CreateScalarComponent, "/input/fire/value"},
                                    {Kind::CreateBooleanComponent, "/input/fire/click"},
                                    {Kind::CreateBooleanComponent, "/input/eject_mag/click"},
                                    {Kind::CreateBooleanComponent, "/input/load_mag/click"}};
    for (int i = 0; i < 4; ++i) {
        const HostCall& call = calls[5 + i];
        SCOPED_TRACE(components[i].path);
        EXPECT_EQ(call.kind, components[i].kind);
        EXPECT_EQ(call.handle, container);
        EXPECT_EQ(call.text, components[i].path);
    }
    EXPECT_EQ(calls[5].scalarType, vr::VRScalarType_Absolute);
    EXPECT_EQ(calls[5].scalarUnits, vr::VRScalarUnits_NormalizedTwoSided);
}

TEST_F(Device, AnswersComponentAndDebugRequestsAndAZeroPoseBeforeAnyFrame) {
    InitAndActivate(7);
    vr::ITrackedDeviceServerDriver* device = host.Device();

    EXPECT_EQ(device->GetComponent("IVRDriverInput_003"), static_cast<void*>(device));
    for (const char* name :
         {"IVRDisplayComponent_002", "IVRDriverInput_002", "IVRDriverInput_004",
          "IVRDriverInput_03", "ivrdriverinput_003", "IVRDriverDirectModeComponent_007",
          "IVRCameraComponent_003", "IVRVirtualDisplay_002", ""}) {
        EXPECT_EQ(device->GetComponent(name), nullptr) << '"' << name << '"';
    }

    char buffer[4] = {'x', 'y', 'z', 'w'};
    device->DebugRequest("anything", buffer, 0);
    EXPECT_EQ(std::string(buffer, 4), "xyzw") << "a buffer of size 0 is not written";
    device->DebugRequest("anything", buffer, 1);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(std::string(buffer + 1, 3), "yzw") << "only the one terminating byte is written";

    device->EnterStandby();

    const vr::DriverPose_t pose = device->GetPose();
    const double numbers[] = {pose.poseTimeOffset,
                              pose.qWorldFromDriverRotation.w,
                              pose.qWorldFromDriverRotation.x,
                              pose.qWorldFromDriverRotation.y,
                              pose.qWorldFromDriverRotation.z,
                              pose.vecWorldFromDriverTranslation[0],
                              pose.vecWorldFromDriverTranslation[1],
                              pose.vecWorldFromDriverTranslation[2],
                              pose.qDriverFromHeadRotation.w,
                              pose.qDriverFromHeadRotation.x,
                              pose.qDriverFromHeadRotation.y,
                              pose.qDriverFromHeadRotation.z,
                              pose.vecDriverFromHeadTranslation[0],
                              pose.vecDriverFromHeadTranslation[1],
                              pose.vecDriverFromHeadTranslation[2],
                              pose.vecPosition[0],
                              pose.vecPosition[1],
                              pose.vecPosition[2],
                              pose.vecVelocity[0],
                              pose.vecVelocity[1],
                              pose.vecVelocity[2],
                              pose.vecAcceleration[0],
                              pose.vecAcceleration[1],
                              pose.vecAcceleration[2],
                              pose.qRotation.w,
                              pose.qRotation.x,
                              pose.qRotation.y,
                              pose.qRotation.z,
                              pose.vecAngularVelocity[0],
                              pose.vecAngularVelocity[1],
                              pose.vecAngularVelocity[2],
                              pose.vecAngularAcceleration[0],
                              pose.vecAngularAcceleration[1],
                              pose.vecAngularAcceleration[2]};
    for (double n : numbers) {
        EXPECT_EQ(n, 0.0);
    }
    EXPECT_EQ(pose.result, 0);
    EXPECT_FALSE(pose.poseIsValid);
    EXPECT_FALSE(pose.willDriftInYaw);
    EXPECT_FALSE(pose.shouldApplyHeadModel);
    EXPECT_FALSE(pose.deviceIsConnected);
}

TEST_F(Device, AfterDeactivateFramesNameTheInvalidDeviceIndex) {
    InitAndActivate(7);
    host.RunFrame();
    host.Deactivate();
    activated = false;
    host.ClearCalls();
    host.RunFrames(2);
    const auto lookups = host.Calls(Kind::PropertyContainer);
    ASSERT_EQ(lookups.size(), 2u);
    EXPECT_EQ(lookups[0].device, vr::k_unTrackedDeviceIndexInvalid);
    EXPECT_THAT(host.Calls(Kind::PoseUpdated), IsEmpty()) << "the block is closed";
}

TEST_F(Device, DeactivateWithoutActivateReturnsQuietly) {
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    host.ClearCalls();
    host.Deactivate();
    host.RunFrame();
    EXPECT_THAT(host.Calls(Kind::PoseUpdated), IsEmpty());
}

// A runtime that does not offer one of the interfaces the device declares itself through:
// activation still succeeds, and frames still run and report poses.
struct WithheldCase {
    const char* label;
    const char* withheld;
    std::size_t writes;      // property writes made by Activate
    std::size_t components;  // components created by Activate
};

void PrintTo(const WithheldCase& c, std::ostream* os) {
    *os << c.withheld << " withheld";
}

class ActivateWithout : public Device, public ::testing::WithParamInterface<WithheldCase> {};

TEST_P(ActivateWithout, StillSucceedsAndFramesStillRun) {
    const WithheldCase& c = GetParam();
    host.WithholdInterface(c.withheld);
    ASSERT_EQ(host.Init(), vr::VRInitError_None);
    host.ClearCalls();
    ASSERT_EQ(host.Activate(7), vr::VRInitError_None);
    activated = true;
    EXPECT_EQ(host.Calls(Kind::PropertyWrite).size(), c.writes);
    EXPECT_EQ(host.Calls(Kind::CreateBooleanComponent).size() +
                  host.Calls(Kind::CreateScalarComponent).size(),
              c.components);

    host.ClearCalls();
    host.RunFrames(3);
    EXPECT_EQ(host.Calls(Kind::PoseUpdated).size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Interfaces, ActivateWithout,
                         ::testing::Values(WithheldCase{"Properties", "IVRProperties_001", 0, 0},
                                           WithheldCase{"DriverInput", "IVRDriverInput_003", 4, 0}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace quenlark
