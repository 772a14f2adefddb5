#pragma once
// The link thread's state machine and the record of link data it owns for its run.

#include <atomic>
#include <cstdint>
#include <memory>

#include "driver/link/ble_central.h"

namespace quenlark {

enum class LinkState : std::int32_t {
    StartScan = 0,       // the watcher is to be started on the next tick
    Scanning = 1,        // the watcher runs; waiting for the target's advertisement
    TargetFound = 2,     // targetAddress is set; connect on the next tick
    ConnectionLost = 3,  // the device reported a disconnection; reset on the next tick
    Connected = 4,       // subscribed; nothing to do per tick
};

// Owned by the link thread through the one shared_ptr it holds; the handlers hold it only
// weakly and lock it for the length of one call, so a handler that runs after the thread
// has ended finds nothing and touches nothing.
struct LinkContext {
    // Written by the link thread and by the received and connection-status handlers, each
    // as a whole store; the last writer wins, except that the tick stores Scanning only
    // over StartScan. TargetFound is stored with release order after targetAddress, and
    // the tick loads the state with acquire order, so the address it then reads is the
    // one that came with TargetFound.
    std::atomic<LinkState> state{LinkState::StartScan};
    // The found peripheral's address; 0 means none. Written by the received handler
    // before TargetFound, read in the TargetFound tick, cleared by resetLink.
    std::atomic<std::uint64_t> targetAddress{0};
    // The one watcher of this thread: set before any handler is attached, never replaced.
    std::shared_ptr<ble::AdvertisementWatcher> watcher;
    // The current connection's device, or none. Link thread only.
    std::shared_ptr<ble::BleDevice> device;
    // The characteristic last subscribed to, or none. Link thread only.
    std::shared_ptr<ble::GattCharacteristic> targetCharacteristic;
};

}  // namespace quenlark
