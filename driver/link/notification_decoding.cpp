#include "driver/link/notification_decoding.h"

#include <atomic>

#include "driver/link/link_log.h"
#include "driver/pending_button_events.h"

namespace quenlark {

NotificationEvent decodeNotification(std::span<const std::uint8_t> payload) {
    if (payload.size() == 6 && payload[0] == 0x5B && payload[5] == 0x5D) {
        return NotificationEvent::Fire;
    }
    if (payload.size() == 4 && payload[0] == 0x5C) {
        if (payload[1] == 0x00 && payload[2] == 0x5C && payload[3] == 0x5D) {
            return NotificationEvent::EjectMag;
        }
        if (payload[1] == 0x01 && payload[2] == 0x5D && payload[3] == 0x5D) {
            return NotificationEvent::LoadMag;
        }
    }
    return NotificationEvent::None;
}

std::string receivedDataLine(std::span<const std::uint8_t> payload) {
    std::string line = "Received data: ";
    line.reserve(line.size() + payload.size() * 4 + 3);
    for (const std::uint8_t byte : payload) {
        line += std::to_string(byte);
        line.push_back(' ');
    }
    line += "END";
    return line;
}

void handleValueChanged(std::span<const std::uint8_t> payload) noexcept {
    // The flag is set before the line is written; an error building the line (memory)
    // ends this call only.
    switch (decodeNotification(payload)) {
        case NotificationEvent::Fire:
            PendingButtonEvents::fire.exchange(true, std::memory_order_seq_cst);
            break;
        case NotificationEvent::EjectMag:
            PendingButtonEvents::ejectMag.exchange(true, std::memory_order_seq_cst);
            break;
        case NotificationEvent::LoadMag:
            PendingButtonEvents::loadMag.exchange(true, std::memory_order_seq_cst);
            break;
        case NotificationEvent::None:
            break;
    }
    try {
        writeLinkLine(receivedDataLine(payload));
    } catch (...) {
    }
}

}  // namespace quenlark
