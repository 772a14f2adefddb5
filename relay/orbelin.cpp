#include "relay/orbelin.h"

#include <openvr.h>

#include "relay/command_line.h"
#include "relay/console.h"
#include "relay/parent_watch.h"
#include "relay/relay_loop.h"
#include "relay/shared_pose_block_relay.h"

namespace quenlark {

int RunOrbelin(int argc, char** argv) {
    const auto parentHandle = ParseParentHandle(argc > 0 ? argv[0] : nullptr);
    if (!parentHandle) {
        // Run by hand: nothing is opened or contacted.
        WriteLine(
            "orbelin is started by the driver with a parent process handle as its command line.");
        return kExitBadCommandLine;
    }
    if (!StartParentWatch(*parentHandle)) {
        WriteLine("Failed to start the parent watch.");
        return kExitNoParentWatch;
    }
    WriteLine("Quenlark Orbelin running ...");

    switch (OpenSharedPoseBlock()) {
        case OpenResult::NotOpened:
            WriteLine("Failed to open file mapping object.");
            return kExitNoSharedPoseBlock;
        case OpenResult::NotMapped:
            WriteLine("Failed to map view of file.");
            return kExitNoSharedPoseBlock;
        case OpenResult::Opened:
            break;
    }
    WriteLine("Shared memory opened successfully.");

    if (vr::IVRSystem* system = ConnectToRuntime()) {
        WriteLine("OpenVR initialized");
        RunRelayLoop(*system);
        vr::VR_Shutdown();
    }
    CloseSharedPoseBlock();
    return kExitParentGone;
}

}  // namespace quenlark
