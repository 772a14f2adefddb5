#include "driver/pending_button_events.h"

namespace quenlark::PendingButtonEvents {

constinit std::atomic<bool> fire{false};
constinit std::atomic<bool> ejectMag{false};
constinit std::atomic<bool> loadMag{false};

}  // namespace quenlark::PendingButtonEvents
