#pragma once
// An in-process fake of the Bluetooth LE central. The test thread plays the platform's
// threads: it calls advertise, reportStatus, notify and reportStopped, which run the
// link's handlers at once on that thread. Set the fake up before the link starts; the
// counters may be read at any time.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "driver/link/ble_central.h"

namespace quenlark::test {

class FakeCharacteristic final : public ble::GattCharacteristic {
  public:
    explicit FakeCharacteristic(ble::Uuid uuid,
                                ble::GattStatus notifyStatus = ble::GattStatus::Success)
        : uuid_(uuid), notifyStatus_(notifyStatus) {}

    ble::Uuid uuid() const override { return uuid_; }
    void addValueChangedHandler(ValueChangedHandler handler) override;
    ble::GattStatus writeNotifyConfiguration() override;

    // One notification with these bytes, to every attached handler.
    void notify(const std::vector<std::uint8_t>& bytes);
    int notifyWrites() const { return notifyWrites_.load(); }
    std::size_t handlerCount();

  private:
    ble::Uuid uuid_;
    ble::GattStatus notifyStatus_;
    std::atomic<int> notifyWrites_{0};
    std::mutex mutex_;
    std::vector<ValueChangedHandler> handlers_;
};

class FakeService final : public ble::GattService {
  public:
    FakeService(ble::Uuid uuid, ble::CharacteristicsResult result)
        : uuid_(uuid), result_(std::move(result)) {}
    ble::Uuid uuid() const override { return uuid_; }
    ble::CharacteristicsResult characteristics() override { return result_; }

  private:
    ble::Uuid uuid_;
    ble::CharacteristicsResult result_;
};

class FakeDevice final : public ble::BleDevice {
  public:
    FakeDevice(std::string name, ble::ServicesResult services)
        : name_(std::move(name)), services_(std::move(services)) {}

    void addConnectionStatusHandler(ConnectionStatusHandler handler) override;
    // Reports Connected (as a platform does while it connects), runs the hook, then
    // answers with the configured services.
    ble::ServicesResult gattServices() override;
    void close() override;

    void reportStatus(ble::ConnectionStatus status);
    int closes() const { return closes_.load(); }
    int serviceQueries() const { return serviceQueries_.load(); }

    std::function<void()> duringServiceQuery;  // runs on the link thread inside gattServices
    std::atomic<bool> closeThrows{false};

  private:
    std::string name_;
    ble::ServicesResult services_;
    std::atomic<int> closes_{0};
    std::atomic<int> serviceQueries_{0};
    std::mutex mutex_;
    std::vector<ConnectionStatusHandler> handlers_;
};

class FakeWatcher final : public ble::AdvertisementWatcher {
  public:
    void addReceivedHandler(ReceivedHandler handler) override;
    void addStoppedHandler(StoppedHandler handler) override;
    void start() override;
    void stop() override;

    void advertise(const std::string& localName, std::uint64_t address);
    void reportStopped();
    int starts() const { return starts_.load(); }
    int stops() const { return stops_.load(); }
    std::size_t handlerCount();

    std::function<void()> duringStart;  // runs on the link thread inside start
    std::atomic<int> startFailures{0};  // so many starts throw BleError

  private:
    std::atomic<int> starts_{0};
    std::atomic<int> stops_{0};
    std::mutex mutex_;
    std::vector<ReceivedHandler> received_;
    std::vector<StoppedHandler> stopped_;
};

class FakeCentral final : public ble::BleCentral {
  public:
    void open() override;
    std::shared_ptr<ble::AdvertisementWatcher> createWatcher() override;
    std::shared_ptr<ble::BleDevice> deviceFromAddress(std::uint64_t address) override;
    void abandon() override {}

    void addDevice(std::uint64_t address, std::shared_ptr<FakeDevice> device) {
        devices_[address] = std::move(device);
    }
    int opens() const { return opens_.load(); }
    int watchersCreated() const { return watchersCreated_.load(); }
    std::vector<std::uint64_t> requestedAddresses();

    const std::shared_ptr<FakeWatcher> watcher = std::make_shared<FakeWatcher>();
    std::atomic<int> openFailures{0};          // so many opens throw BleError
    std::atomic<int> deviceLookupFailures{0};  // so many lookups throw BleError

  private:
    std::map<std::uint64_t, std::shared_ptr<FakeDevice>> devices_;
    std::atomic<int> opens_{0};
    std::atomic<int> watchersCreated_{0};
    std::mutex mutex_;
    std::vector<std::uint64_t> requested_;
};

}  // namespace quenlark::test
