#pragma once
// The Bluetooth LE central operations the trigger link calls, with no types of any
// operating system. A backend per platform implements them (bluez/ on Linux); the link's
// logic and its tests see only this header.
//
// Threads: the link thread calls the operations. The handlers given to the add...Handler
// operations are called on threads of the backend, possibly at the same time as each other
// and as the link thread. A handler must not throw and must not wait for the link thread.
//
// Failures: what the platform reports as an outcome comes back as a status or as an empty
// result. Anything else (no system bus, no Bluetooth service, no adapter, a lost
// connection to the service, a time-out) throws BleError, and only BleError.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace quenlark::ble {

// A 128-bit UUID, its bytes in the order they are written (most significant first).
using Uuid = std::array<std::uint8_t, 16>;

// Outcome of a GATT query or descriptor write. Success is 0, as the link expects.
enum class GattStatus : std::uint8_t {
    Success = 0,
    Unreachable = 1,
    ProtocolError = 2,
    AccessDenied = 3,
};

// A device's connection status: Connected is 1, anything else means not connected.
enum class ConnectionStatus : std::uint8_t {
    Disconnected = 0,
    Connected = 1,
};

// A platform failure that is not an outcome: see the top of this file.
class BleError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One received advertisement: the advertised local name (UTF-8, empty when absent) and the
// sender's 48-bit address as a number (AA:BB:CC:DD:EE:FF is 0xAABBCCDDEEFF).
struct Advertisement {
    std::string localName;
    std::uint64_t address = 0;

    friend bool operator==(const Advertisement&, const Advertisement&) = default;
};

class GattCharacteristic {
  public:
    using ValueChangedHandler = std::function<void(std::span<const std::uint8_t> value)>;

    virtual ~GattCharacteristic() = default;
    virtual Uuid uuid() const = 0;
    // Called once per notification with its complete bytes, in order. Stays attached for
    // as long as the device this characteristic belongs to is open.
    virtual void addValueChangedHandler(ValueChangedHandler handler) = 0;
    // Writes the Client Characteristic Configuration descriptor with Notify; blocks.
    virtual GattStatus writeNotifyConfiguration() = 0;
};

struct CharacteristicsResult {
    GattStatus status = GattStatus::Unreachable;
    std::vector<std::shared_ptr<GattCharacteristic>> characteristics;
};

class GattService {
  public:
    virtual ~GattService() = default;
    virtual Uuid uuid() const = 0;
    // The service's characteristics; blocks.
    virtual CharacteristicsResult characteristics() = 0;
};

struct ServicesResult {
    GattStatus status = GattStatus::Unreachable;
    std::vector<std::shared_ptr<GattService>> services;
};

class BleDevice {
  public:
    using ConnectionStatusHandler =
        std::function<void(ConnectionStatus status, const std::string& name)>;

    virtual ~BleDevice() = default;
    // Called on every change of the device's connection status, with the device's name
    // (UTF-8, empty when it has none), until the device is closed.
    virtual void addConnectionStatusHandler(ConnectionStatusHandler handler) = 0;
    // The device's GATT services; blocks. A stack that needs an explicit connection makes
    // it here, and a failed connection is a status other than Success.
    virtual ServicesResult gattServices() = 0;
    // Closes the device: its handlers are called no more, and a connection it made ends.
    virtual void close() = 0;
};

class AdvertisementWatcher {
  public:
    using ReceivedHandler = std::function<void(const Advertisement& advertisement)>;
    using StoppedHandler = std::function<void()>;

    virtual ~AdvertisementWatcher() = default;
    // Called once per advertisement heard while the watch runs; may be called while start
    // is still in progress.
    virtual void addReceivedHandler(ReceivedHandler handler) = 0;
    // Called when the watch ends, after stop or for a reason of the platform's.
    virtual void addStoppedHandler(StoppedHandler handler) = 0;
    virtual void start() = 0;
    // Ends the watch. Never blocks, so a received handler may call it.
    virtual void stop() = 0;
};

class BleCentral {
  public:
    virtual ~BleCentral() = default;
    // Makes the platform ready for use (bus, service, adapter). Cheap once open; throws
    // BleError while Bluetooth is unavailable, and may be called again later.
    virtual void open() = 0;
    // The one watcher of a link thread, with active scanning and no filters. No I/O.
    virtual std::shared_ptr<AdvertisementWatcher> createWatcher() = 0;
    // The device known under this address, or null when the platform has none; blocks.
    virtual std::shared_ptr<BleDevice> deviceFromAddress(std::uint64_t address) = 0;
    // Makes every wait of this central end at once with BleError, from now on. Any thread.
    virtual void abandon() = 0;
};

// The central of the platform the library was built for. Does no I/O; the first operation
// connects. Destroying it ends every thread it started and calls no handler afterwards.
std::unique_ptr<BleCentral> CreatePlatformCentral();

}  // namespace quenlark::ble
