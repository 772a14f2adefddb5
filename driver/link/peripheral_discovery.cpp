#include "driver/link/peripheral_discovery.h"

#include <string>

#include "driver/link/link_log.h"
#include "driver/link/link_text.h"

namespace quenlark {

void attachDiscoveryHandlers(const std::shared_ptr<LinkContext>& context) {
    const std::weak_ptr<LinkContext> weak = context;
    context->watcher->addReceivedHandler([weak](const ble::Advertisement& advertisement) {
        handleAdvertisement(weak, advertisement);
    });
    context->watcher->addStoppedHandler([]() noexcept {
        try {
            writeLinkLine("Watcher stopped.");
        } catch (...) {
        }
    });
}

void handleAdvertisement(const std::weak_ptr<LinkContext>& weak,
                         const ble::Advertisement& advertisement) noexcept {
    try {
        const std::shared_ptr<LinkContext> context = weak.lock();
        if (!context || advertisement.localName.empty()) {
            return;
        }
        writeLinkLine("Found device: " + advertisement.localName +
                      " (Address: " + addressText(advertisement.address) + ")");
        if (advertisement.localName != kTargetLocalName) {
            return;
        }
        writeLinkLine("Target device found.");
        context->targetAddress.store(advertisement.address, std::memory_order_relaxed);
        // A Stop that throws leaves the state as it was, so the next match tries again.
        context->watcher->stop();
        context->state.store(LinkState::TargetFound, std::memory_order_release);
    } catch (...) {
        // An error ends this call of the handler only.
    }
}

void startScanning(LinkContext& context, bool writeLine) {
    if (writeLine) {
        writeLinkLine("Starting the advertisement watcher.");
    }
    context.watcher->start();
    // The target may have been reported while Start ran (the platform can deliver the
    // device before Start returns); a plain store would overwrite its TargetFound with a
    // watcher already stopped, and the link would wait for ever.
    LinkState expected = LinkState::StartScan;
    context.state.compare_exchange_strong(expected, LinkState::Scanning, std::memory_order_relaxed,
                                          std::memory_order_relaxed);
}

}  // namespace quenlark
