#pragma once
// The relay's side of the shared pose block: it opens the section the driver created (never
// creating one) and overwrites the record again and again. Main thread only.

#include <openvr.h>

namespace quenlark {

enum class OpenResult { Opened, NotOpened, NotMapped };

// Opens "/Zevoro_SharedMemory" for reading and writing and maps its 1024 bytes; one
// attempt. On NotMapped the section handle is already closed. Initialises nothing.
OpenResult OpenSharedPoseBlock();

// Stores the 80-byte record under the block's lock and releases it with release order.
// While the lock is held by someone else it spins, but gives up once the parent has
// exited, so that a host that died holding the lock cannot keep the relay alive; false
// then, and nothing is written.
bool PublishPose(const vr::TrackedDevicePose_t& record);

// Unmaps the relay's view and closes its handle. The driver owns the section's name.
void CloseSharedPoseBlock();

}  // namespace quenlark
