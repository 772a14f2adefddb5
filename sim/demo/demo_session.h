#pragma once
// The simulated session: what SteamVR and a real pistol would do around the installed
// driver folder, in one process and its children.
//
//   - a private dbus-daemon with the simulated pistol (the stand-in BlueZ service) on it,
//     named to the driver as its system bus;
//   - the stand-in runtime's scene with a headset, a left-hand and a right-hand controller,
//     the right hand on the figure-eight, served to the driver's relay orbelin through the
//     real OpenVR client library (the environment the driver passes on to orbelin points
//     the library at the stand-in runtime);
//   - the installed driver folder loaded and driven through the stand-in host as the VR
//     server does: Init, Activate, a frame every 1/90 s on the steady clock, and at the
//     end Deactivate and Cleanup;
//   - the pistol pulling the trigger every shot interval and now and then ejecting and
//     loading a magazine, once the link has connected.
//
// While it runs the terminal view shows what happens; at the end the summary says what was
// sent and what the driver made of it.

#include <string>

#include "sim/demo/demo_options.h"

namespace quenlark::demo {

// Runs the session in this process until its duration is over or a stop is requested
// (see stop_request.h), ends everything it started, in order, and prints the summary.
// Returns 0 when the summary shows no problem, 1 when it does or when the session could
// not be set up (with a message on standard error). Call with no other thread running:
// the session sets the environment its children inherit.
int RunDemoSession(const DemoOptions& options, const std::string& driverFolder);

}  // namespace quenlark::demo
