#pragma once
// Button events handed from the trigger link to the frame update. The link's value-changed
// handler sets a flag (atomic exchange to true, on a Bluetooth platform thread); only the
// frame update clears it. Any number of sets before the frame that takes the flag count
// as one event. False at library load; activation and deactivation never reset them.

#include <atomic>

namespace quenlark::PendingButtonEvents {

extern std::atomic<bool> fire;      // a trigger notification
extern std::atomic<bool> ejectMag;  // a magazine-eject notification
extern std::atomic<bool> loadMag;   // a magazine-load notification

}  // namespace quenlark::PendingButtonEvents
