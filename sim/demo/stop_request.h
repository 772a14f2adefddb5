#pragma once
// Ctrl-C and its kin: SIGINT, SIGTERM and SIGHUP ask the session to end; it finishes the
// frame it is in and shuts down in order.

namespace quenlark::demo {

// Installs the handlers; call once, before any other thread starts.
void InstallStopRequestHandlers();

// True once a stop was asked for (by a signal or by RequestStop).
bool StopRequested();
void RequestStop();

}  // namespace quenlark::demo
