#pragma once
// The central over BlueZ's D-Bus API (org.bluez on the system bus), with time-outs that
// tests can shorten.

#include <memory>

#include "driver/link/ble_central.h"
#include "driver/link/bluez/bluez_core.h"

namespace quenlark::ble::bluez {

std::unique_ptr<BleCentral> CreateBluezCentral(BluezTimeouts timeouts);

}  // namespace quenlark::ble::bluez
