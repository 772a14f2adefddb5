#include "driver/link/bluez/bluez_central.h"

#include <utility>

namespace quenlark::ble {
namespace bluez {
namespace {

class BluezCharacteristic final : public GattCharacteristic {
  public:
    BluezCharacteristic(std::shared_ptr<BluezCore> core, std::shared_ptr<DeviceState> device,
                        GattObjectInfo info)
        : core_(std::move(core)), device_(std::move(device)), info_(std::move(info)) {}

    Uuid uuid() const override { return info_.uuid; }

    void addValueChangedHandler(ValueChangedHandler handler) override {
        core_->addValueHandler(*device_, info_.path, std::move(handler));
    }

    GattStatus writeNotifyConfiguration() override { return core_->startNotify(info_.path); }

  private:
    std::shared_ptr<BluezCore> core_;
    std::shared_ptr<DeviceState> device_;
    GattObjectInfo info_;
};

class BluezService final : public GattService {
  public:
    BluezService(Uuid uuid, std::vector<std::shared_ptr<GattCharacteristic>> characteristics)
        : uuid_(uuid), characteristics_(std::move(characteristics)) {}

    Uuid uuid() const override { return uuid_; }

    // Read together with the services, so this query cannot fail on its own.
    CharacteristicsResult characteristics() override {
        return {GattStatus::Success, characteristics_};
    }

  private:
    Uuid uuid_;
    std::vector<std::shared_ptr<GattCharacteristic>> characteristics_;
};

class BluezDevice final : public BleDevice {
  public:
    BluezDevice(std::shared_ptr<BluezCore> core, std::shared_ptr<DeviceState> state)
        : core_(std::move(core)), state_(std::move(state)) {}

    void addConnectionStatusHandler(ConnectionStatusHandler handler) override {
        core_->addStatusHandler(*state_, std::move(handler));
    }

    ServicesResult gattServices() override {
        const auto objects = core_->gattObjects(*state_);
        if (!objects) {
            return {GattStatus::Unreachable, {}};
        }
        ServicesResult result{GattStatus::Success, {}};
        for (const GattServiceInfo& info : *objects) {
            std::vector<std::shared_ptr<GattCharacteristic>> characteristics;
            for (const GattObjectInfo& characteristic : info.characteristics) {
                characteristics.push_back(
                    std::make_shared<BluezCharacteristic>(core_, state_, characteristic));
            }
            result.services.push_back(
                std::make_shared<BluezService>(info.service.uuid, std::move(characteristics)));
        }
        return result;
    }

    void close() override { core_->closeDevice(*state_); }

  private:
    std::shared_ptr<BluezCore> core_;
    std::shared_ptr<DeviceState> state_;
};

class BluezWatcher final : public AdvertisementWatcher {
  public:
    explicit BluezWatcher(std::shared_ptr<BluezCore> core)
        : core_(std::move(core)), state_(core_->addWatcher()) {}

    void addReceivedHandler(ReceivedHandler handler) override {
        core_->addReceivedHandler(*state_, std::move(handler));
    }
    void addStoppedHandler(StoppedHandler handler) override {
        core_->addStoppedHandler(*state_, std::move(handler));
    }
    void start() override { core_->startDiscovery(*state_); }
    void stop() override { core_->stopDiscovery(*state_); }

  private:
    std::shared_ptr<BluezCore> core_;
    std::shared_ptr<WatcherState> state_;
};

class BluezCentral final : public BleCentral {
  public:
    explicit BluezCentral(BluezTimeouts timeouts) : core_(std::make_shared<BluezCore>(timeouts)) {}
    // Ends the event thread, so no handler is called after this returns.
    ~BluezCentral() override { core_->shutdown(); }

    void open() override { core_->open(); }
    std::shared_ptr<AdvertisementWatcher> createWatcher() override {
        return std::make_shared<BluezWatcher>(core_);
    }
    std::shared_ptr<BleDevice> deviceFromAddress(std::uint64_t address) override {
        std::shared_ptr<DeviceState> state = core_->findDevice(address);
        return state ? std::make_shared<BluezDevice>(core_, std::move(state)) : nullptr;
    }
    void abandon() override { core_->abandon(); }

  private:
    std::shared_ptr<BluezCore> core_;
};

}  // namespace

std::unique_ptr<BleCentral> CreateBluezCentral(BluezTimeouts timeouts) {
    return std::make_unique<BluezCentral>(timeouts);
}

}  // namespace bluez

std::unique_ptr<BleCentral> CreatePlatformCentral() {
    return bluez::CreateBluezCentral(bluez::BluezTimeouts{});
}

}  // namespace quenlark::ble
