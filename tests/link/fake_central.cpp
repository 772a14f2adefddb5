#include "tests/link/fake_central.h"

namespace quenlark::test {
namespace {

// Takes one failure off the counter; true when this call is to fail.
bool consumeFailure(std::atomic<int>& failures) {
    int left = failures.load();
    while (left > 0) {
        if (failures.compare_exchange_weak(left, left - 1)) {
            return true;
        }
    }
    return false;
}

template <typename Handler>
std::vector<Handler> copyOf(std::mutex& mutex, const std::vector<Handler>& handlers) {
    std::lock_guard lock(mutex);
    return handlers;
}

}  // namespace

void FakeCharacteristic::addValueChangedHandler(ValueChangedHandler handler) {
    std::lock_guard lock(mutex_);
    handlers_.push_back(std::move(handler));
}

ble::GattStatus FakeCharacteristic::writeNotifyConfiguration() {
    ++notifyWrites_;
    return notifyStatus_;
}

void FakeCharacteristic::notify(const std::vector<std::uint8_t>& bytes) {
    for (const auto& handler : copyOf(mutex_, handlers_)) {
        handler(std::span<const std::uint8_t>(bytes));
    }
}

std::size_t FakeCharacteristic::handlerCount() {
    std::lock_guard lock(mutex_);
    return handlers_.size();
}

void FakeDevice::addConnectionStatusHandler(ConnectionStatusHandler handler) {
    std::lock_guard lock(mutex_);
    handlers_.push_back(std::move(handler));
}

ble::ServicesResult FakeDevice::gattServices() {
    ++serviceQueries_;
    reportStatus(ble::ConnectionStatus::Connected);
    if (duringServiceQuery) {
        duringServiceQuery();
    }
    return services_;
}

void FakeDevice::close() {
    ++closes_;
    if (closeThrows.load()) {
        throw ble::BleError("fake close failure");
    }
}

void FakeDevice::reportStatus(ble::ConnectionStatus status) {
    for (const auto& handler : copyOf(mutex_, handlers_)) {
        handler(status, name_);
    }
}

void FakeWatcher::addReceivedHandler(ReceivedHandler handler) {
    std::lock_guard lock(mutex_);
    received_.push_back(std::move(handler));
}

void FakeWatcher::addStoppedHandler(StoppedHandler handler) {
    std::lock_guard lock(mutex_);
    stopped_.push_back(std::move(handler));
}

void FakeWatcher::start() {
    ++starts_;
    if (consumeFailure(startFailures)) {
        throw ble::BleError("fake start failure");
    }
    if (duringStart) {
        duringStart();
    }
}

void FakeWatcher::stop() {
    ++stops_;
}

void FakeWatcher::advertise(const std::string& localName, std::uint64_t address) {
    for (const auto& handler : copyOf(mutex_, received_)) {
        handler(ble::Advertisement{localName, address});
    }
}

void FakeWatcher::reportStopped() {
    for (const auto& handler : copyOf(mutex_, stopped_)) {
        handler();
    }
}

std::size_t FakeWatcher::handlerCount() {
    std::lock_guard lock(mutex_);
    return received_.size() + stopped_.size();
}

void FakeCentral::open() {
    ++opens_;
    if (consumeFailure(openFailures)) {
        throw ble::BleError("fake open failure");
    }
}

std::shared_ptr<ble::AdvertisementWatcher> FakeCentral::createWatcher() {
    ++watchersCreated_;
    return watcher;
}

std::shared_ptr<ble::BleDevice> FakeCentral::deviceFromAddress(std::uint64_t address) {
    {
        std::lock_guard lock(mutex_);
        requested_.push_back(address);
    }
    if (consumeFailure(deviceLookupFailures)) {
        throw ble::BleError("fake lookup failure");
    }
    const auto it = devices_.find(address);
    return it == devices_.end() ? nullptr : it->second;
}

std::vector<std::uint64_t> FakeCentral::requestedAddresses() {
    std::lock_guard lock(mutex_);
    return requested_;
}

}  // namespace quenlark::test
