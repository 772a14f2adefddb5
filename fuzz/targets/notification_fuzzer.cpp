// Any payload: the decoder names at most the one event its bytes stand for, the handler sets
// exactly that flag, and the "Received data" line it writes lists every byte in decimal.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "driver/link/link_log.h"
#include "driver/link/notification_decoding.h"
#include "driver/pending_button_events.h"

namespace {

std::string lastLine;
int lineCount = 0;

void captureLine(const char* line) {
    lastLine = line;
    ++lineCount;
}

quenlark::NotificationEvent expectedEvent(std::span<const std::uint8_t> p) {
    using quenlark::NotificationEvent;
    if (p.size() == 6 && p[0] == 0x5B && p[5] == 0x5D) {
        return NotificationEvent::Fire;
    }
    if (p.size() == 4 && p[0] == 0x5C && p[1] == 0x00 && p[2] == 0x5C && p[3] == 0x5D) {
        return NotificationEvent::EjectMag;
    }
    if (p.size() == 4 && p[0] == 0x5C && p[1] == 0x01 && p[2] == 0x5D && p[3] == 0x5D) {
        return NotificationEvent::LoadMag;
    }
    return NotificationEvent::None;
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The line's bytes read back, or aborts when it is not of the form.
void checkLine(std::string_view line, std::span<const std::uint8_t> payload) {
    constexpr std::string_view kPrefix = "Received data: ";
    check(line.substr(0, kPrefix.size()) == kPrefix);
    std::string_view rest = line.substr(kPrefix.size());
    for (const std::uint8_t byte : payload) {
        const std::size_t blank = rest.find(' ');
        check(blank != std::string_view::npos);
        check(rest.substr(0, blank) == std::to_string(byte));
        rest.remove_prefix(blank + 1);
    }
    check(rest == "END");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quenlark;
    const std::span<const std::uint8_t> payload(data, size);
    const NotificationEvent event = decodeNotification(payload);
    check(event == expectedEvent(payload));
    checkLine(receivedDataLine(payload), payload);

    linkLog.store(&captureLine, std::memory_order_relaxed);
    PendingButtonEvents::fire.store(false);
    PendingButtonEvents::ejectMag.store(false);
    PendingButtonEvents::loadMag.store(false);
    const int before = lineCount;
    handleValueChanged(payload);
    check(lineCount == before + 1);
    checkLine(lastLine, payload);
    check(PendingButtonEvents::fire.load() == (event == NotificationEvent::Fire));
    check(PendingButtonEvents::ejectMag.load() == (event == NotificationEvent::EjectMag));
    check(PendingButtonEvents::loadMag.load() == (event == NotificationEvent::LoadMag));
    return 0;
}
