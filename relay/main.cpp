// orbelin: the pose relay that the driver starts when its device is activated. A background
// client of the VR runtime that publishes the right-hand controller's pose into the shared
// pose block until the VR server process that started it has ended.
#include "relay/orbelin.h"

int main(int argc, char** argv) {
    return quenlark::RunOrbelin(argc, argv);
}
