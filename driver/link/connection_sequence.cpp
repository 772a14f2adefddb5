#include "driver/link/connection_sequence.h"

#include <string>

#include "driver/link/link_log.h"
#include "driver/link/link_text.h"
#include "driver/link/notification_decoding.h"

namespace quenlark {

void connectSequence(const std::shared_ptr<LinkContext>& context, ble::BleCentral& central) {
    LinkContext& link = *context;
    const std::uint64_t address = link.targetAddress.load(std::memory_order_relaxed);
    if (address == 0) {
        writeLinkLine("Target device address is invalid.");
        resetLink(link);
        return;
    }
    writeLinkLine("Connecting to device: " + addressText(address));
    link.device = central.deviceFromAddress(address);
    if (!link.device) {
        writeLinkLine("Failed to connect to device: " + addressText(address));
        resetLink(link);
        return;
    }
    const std::weak_ptr<LinkContext> weak = context;
    link.device->addConnectionStatusHandler(
        [weak](ble::ConnectionStatus status, const std::string& name) {
            handleConnectionStatus(weak, status, name);
        });

    const ble::ServicesResult services = link.device->gattServices();
    if (services.status != ble::GattStatus::Success) {
        writeLinkLine("Failed to get GATT services.");
        resetLink(link);
        return;
    }

    bool subscribed = false;
    for (const std::shared_ptr<ble::GattService>& service : services.services) {
        const std::string serviceText = uuidText(service->uuid());
        writeLinkLine("Found GATT service: " + serviceText);
        const ble::CharacteristicsResult characteristics = service->characteristics();
        if (characteristics.status != ble::GattStatus::Success) {
            writeLinkLine("Failed to get characteristics for service: " + serviceText);
            continue;
        }
        // Every characteristic is listed and every match subscribed, also after a match.
        for (const std::shared_ptr<ble::GattCharacteristic>& characteristic :
             characteristics.characteristics) {
            const ble::Uuid uuid = characteristic->uuid();
            const std::string text = uuidText(uuid);
            writeLinkLine("  Characteristic: " + text);
            if (uuid != kTargetCharacteristicUuid) {
                continue;
            }
            link.targetCharacteristic = characteristic;
            writeLinkLine("Subscribing to characteristic: " + text);
            // Attached before the descriptor write, and kept when the write fails.
            characteristic->addValueChangedHandler(
                [](std::span<const std::uint8_t> value) { handleValueChanged(value); });
            if (characteristic->writeNotifyConfiguration() == ble::GattStatus::Success) {
                writeLinkLine("Successfully subscribed to notifications for characteristic: " +
                              text);
                subscribed = true;
            } else {
                writeLinkLine("Failed to subscribe to notifications for characteristic: " + text);
            }
        }
    }

    if (subscribed) {
        writeLinkLine("Device successfully connected.");
        // A disconnection the platform reported while the sequence ran has stored
        // ConnectionLost; storing Connected over it would leave the link waiting for ever on
        // a dead connection. Keep it, and the next tick resets and scans again.
        LinkState expected = LinkState::TargetFound;
        link.state.compare_exchange_strong(expected, LinkState::Connected,
                                           std::memory_order_relaxed, std::memory_order_relaxed);
    } else {
        writeLinkLine("Target characteristic not found.");
        resetLink(link);
    }
}

void resetLink(LinkContext& link) {
    if (link.device) {
        // Taken out first, so that a close that throws still leaves no device held.
        const std::shared_ptr<ble::BleDevice> device = std::move(link.device);
        link.device.reset();
        device->close();
    }
    link.targetAddress.store(0, std::memory_order_relaxed);
    link.targetCharacteristic.reset();
    link.state.store(LinkState::StartScan, std::memory_order_relaxed);
}

void handleConnectionStatus(const std::weak_ptr<LinkContext>& weak, ble::ConnectionStatus status,
                            const std::string& name) noexcept {
    try {
        const std::shared_ptr<LinkContext> context = weak.lock();
        if (!context) {
            return;
        }
        if (status == ble::ConnectionStatus::Connected) {
            writeLinkLine("Connected to device: " + name);
            return;
        }
        writeLinkLine("Disconnected from device: " + name);
        context->state.store(LinkState::ConnectionLost, std::memory_order_relaxed);
    } catch (...) {
        // An error ends this call of the handler only.
    }
}

}  // namespace quenlark
