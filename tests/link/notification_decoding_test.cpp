// The value-changed handler: which pending button event each payload sets, and the
// "Received data" line it writes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/link/link_log.h"
#include "driver/link/notification_decoding.h"
#include "driver/pending_button_events.h"
#include "tests/link/link_runner.h"

namespace quenlark::test {
namespace {

struct PayloadCase {
    const char* name;
    std::vector<std::uint8_t> payload;
    NotificationEvent event;
    const char* line;
};

class NotificationDecodingTest : public ::testing::TestWithParam<PayloadCase> {
  protected:
    void SetUp() override {
        PendingButtonEvents::fire.store(false);
        PendingButtonEvents::ejectMag.store(false);
        PendingButtonEvents::loadMag.store(false);
        CapturedLog::clear();
        linkLog.store(&CapturedLog::write);
    }
    void TearDown() override { linkLog.store(nullptr); }
};

TEST_P(NotificationDecodingTest, SetsTheEventThenWritesTheBytes) {
    const PayloadCase& row = GetParam();
    EXPECT_EQ(decodeNotification(row.payload), row.event);

    handleValueChanged(row.payload);
    EXPECT_EQ(PendingButtonEvents::fire.load(), row.event == NotificationEvent::Fire);
    EXPECT_EQ(PendingButtonEvents::ejectMag.load(), row.event == NotificationEvent::EjectMag);
    EXPECT_EQ(PendingButtonEvents::loadMag.load(), row.event == NotificationEvent::LoadMag);
    EXPECT_THAT(CapturedLog::lines(), ::testing::ElementsAre(row.line));
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, NotificationDecodingTest,
    ::testing::Values(PayloadCase{"Trigger",
                                  {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D},
                                  NotificationEvent::Fire,
                                  "Received data: 91 0 0 0 0 93 END"},
                      PayloadCase{"TriggerWithAnyInnerBytes",
                                  {0x5B, 0x01, 0xFF, 0x5D, 0x80, 0x5D},
                                  NotificationEvent::Fire,
                                  "Received data: 91 1 255 93 128 93 END"},
                      PayloadCase{"Eject",
                                  {0x5C, 0x00, 0x5C, 0x5D},
                                  NotificationEvent::EjectMag,
                                  "Received data: 92 0 92 93 END"},
                      PayloadCase{"Load",
                                  {0x5C, 0x01, 0x5D, 0x5D},
                                  NotificationEvent::LoadMag,
                                  "Received data: 92 1 93 93 END"},
                      PayloadCase{"EjectWithLoadsThirdByte",
                                  {0x5C, 0x00, 0x5D, 0x5D},
                                  NotificationEvent::None,
                                  "Received data: 92 0 93 93 END"},
                      PayloadCase{"LoadWithEjectsThirdByte",
                                  {0x5C, 0x01, 0x5C, 0x5D},
                                  NotificationEvent::None,
                                  "Received data: 92 1 92 93 END"},
                      PayloadCase{"MagazineWithOtherLastByte",
                                  {0x5C, 0x00, 0x5C, 0x5C},
                                  NotificationEvent::None,
                                  "Received data: 92 0 92 92 END"},
                      PayloadCase{"TriggerOfFiveBytes",
                                  {0x5B, 0x00, 0x00, 0x00, 0x5D},
                                  NotificationEvent::None,
                                  "Received data: 91 0 0 0 93 END"},
                      PayloadCase{"TriggerOfSevenBytes",
                                  {0x5B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x5D},
                                  NotificationEvent::None,
                                  "Received data: 91 0 0 0 0 0 93 END"},
                      PayloadCase{"TriggerWithOtherLastByte",
                                  {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5C},
                                  NotificationEvent::None,
                                  "Received data: 91 0 0 0 0 92 END"},
                      PayloadCase{"SixBytesOfMagazineForm",
                                  {0x5C, 0x00, 0x5C, 0x5D, 0x00, 0x5D},
                                  NotificationEvent::None,
                                  "Received data: 92 0 92 93 0 93 END"},
                      PayloadCase{
                          "OneByte", {0x5B}, NotificationEvent::None, "Received data: 91 END"},
                      PayloadCase{"Empty", {}, NotificationEvent::None, "Received data: END"}),
    [](const ::testing::TestParamInfo<PayloadCase>& info) { return std::string(info.param.name); });

TEST(NotificationDecoding, RepeatedTriggersBeforeAFrameLeaveOnePendingEvent) {
    PendingButtonEvents::fire.store(false);
    const std::vector<std::uint8_t> trigger = {0x5B, 0x00, 0x00, 0x00, 0x00, 0x5D};
    handleValueChanged(trigger);
    handleValueChanged(trigger);
    EXPECT_TRUE(PendingButtonEvents::fire.exchange(false));
    EXPECT_FALSE(PendingButtonEvents::fire.load());
}

}  // namespace
}  // namespace quenlark::test
