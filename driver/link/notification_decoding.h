#pragma once
// Turning the pistol's notifications into pending button events.

#include <cstdint>
#include <span>
#include <string>

namespace quenlark {

// The button event a payload stands for.
enum class NotificationEvent : std::uint8_t { None, Fire, EjectMag, LoadMag };

// Recognises the three payloads: 6 bytes 5B .. .. .. .. 5D is the trigger, 5C 00 5C 5D
// magazine eject, 5C 01 5D 5D magazine load; anything else is None.
NotificationEvent decodeNotification(std::span<const std::uint8_t> payload);

// "Received data: " followed by each byte in decimal and a blank, then "END".
std::string receivedDataLine(std::span<const std::uint8_t> payload);

// The value-changed handler: sets the pending button event of the payload, then writes its
// "Received data" line. Concurrent: runs on the backend's threads; touches only the
// process-wide PendingButtonEvents and linkLog. Never throws.
void handleValueChanged(std::span<const std::uint8_t> payload) noexcept;

}  // namespace quenlark
