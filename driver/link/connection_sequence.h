#pragma once
// Connection and subscription: the TargetFound tick, resetLink and the connection-status
// handler.

#include <memory>

#include "driver/link/ble_central.h"
#include "driver/link/link_context.h"

namespace quenlark {

// 0000FFF1-0000-1000-8000-00805F9B34FB: the 16-bit UUID 0xFFF1 on the Bluetooth Base UUID.
inline constexpr ble::Uuid kTargetCharacteristicUuid = {
    0x00, 0x00, 0xFF, 0xF1, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

// The TargetFound tick: opens the device by address, walks every service and
// characteristic, subscribes to each one with the target UUID, and ends Connected or
// through resetLink. Link thread only; throws BleError from the platform.
void connectSequence(const std::shared_ptr<LinkContext>& context, ble::BleCentral& central);

// Back to scanning: closes and releases the device, clears the address and the
// characteristic, and stores StartScan. The device is released even when its close
// throws. Link thread only.
void resetLink(LinkContext& context);

// The connection-status handler. Concurrent: runs on the backend's threads. Does nothing
// once the link thread has ended. Never throws.
void handleConnectionStatus(const std::weak_ptr<LinkContext>& context, ble::ConnectionStatus status,
                            const std::string& name) noexcept;

}  // namespace quenlark
