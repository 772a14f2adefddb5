#pragma once
// Discovery: the watcher's handlers and the StartScan tick.

#include <memory>

#include "driver/link/ble_central.h"
#include "driver/link/link_context.h"

namespace quenlark {

// The advertised local name of the pistol, compared as exact bytes.
inline constexpr char kTargetLocalName[] = "Pistol";

// Attaches the advertisement-received handler, then the watcher-stopped handler, to the
// context's watcher. They stay attached for the life of the watcher.
void attachDiscoveryHandlers(const std::shared_ptr<LinkContext>& context);

// The advertisement-received handler. Concurrent: runs on the backend's threads. Does
// nothing once the link thread has ended. Never throws.
void handleAdvertisement(const std::weak_ptr<LinkContext>& context,
                         const ble::Advertisement& advertisement) noexcept;

// Writes "Starting the advertisement watcher." unless `writeLine` is false, starts the
// watcher and moves StartScan to Scanning. A target reported while Start was still
// running keeps its TargetFound. Throws BleError from the platform.
void startScanning(LinkContext& context, bool writeLine);

}  // namespace quenlark
