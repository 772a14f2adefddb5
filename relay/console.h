#pragma once
// The relay's console: every message is one line on standard output, flushed at once.
// Both threads of the relay write through here; each line leaves in one piece.

#include <openvr.h>

namespace quenlark {

void WriteLine(const char* text);

// "Controller <index> position: (<x>, <y>, <z>)": the translation column of the pose's
// matrix, each float widened to double and written with "%f" (the program never changes
// its locale from "C", so the point is always the decimal separator). The pose is used as
// the runtime returned it, whatever its validity.
void ReportControllerPosition(vr::TrackedDeviceIndex_t index, const vr::TrackedDevicePose_t& pose);

}  // namespace quenlark
