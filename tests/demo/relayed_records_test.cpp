#include "sim/demo/relayed_records.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quenlark::demo {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

// A record told apart by its first byte.
PoseRecordBytes Record(unsigned char tag) {
    PoseRecordBytes record{};
    record[0] = tag;
    record[79] = 1;
    return record;
}

RelayedRecords ServedInOrder(std::initializer_list<unsigned char> tags, std::size_t kept = 32) {
    RelayedRecords records(kept);
    for (unsigned char tag : tags) {
        records.Served(Record(tag));
    }
    return records;
}

TEST(RelayedRecords, ABlockThatHeldStillNamesOneRecord) {
    const RelayedRecords records = ServedInOrder({1, 2, 3});
    EXPECT_THAT(records.FrameCandidates(Record(3), Record(3)), ElementsAre(Record(3)));
}

// The relay may still publish what it was served after the record seen before the frame,
// however far it lags; what was served before that record is out of the question.
TEST(RelayedRecords, ALaggingRelayMayPublishEveryLaterRecord) {
    const RelayedRecords records = ServedInOrder({1, 2, 3, 4, 5});
    EXPECT_THAT(records.FrameCandidates(Record(2), Record(3)),
                UnorderedElementsAre(Record(2), Record(3), Record(4), Record(5)));
    EXPECT_THAT(records.FrameCandidates(Record(4), Record(4)),
                UnorderedElementsAre(Record(4), Record(5)));
}

// A scene that returns to an earlier pose: the earliest serving of the record counts.
TEST(RelayedRecords, ARecordServedTwiceCountsFromItsFirstServing) {
    const RelayedRecords records = ServedInOrder({1, 2, 1, 3});
    EXPECT_THAT(records.FrameCandidates(Record(1), Record(1)),
                UnorderedElementsAre(Record(1), Record(2), Record(3)));
}

// The block's initial zeros (nothing published yet), an unreadable block, or a record older
// than the memory reaches: any remembered record may follow.
TEST(RelayedRecords, AnUnknownOrMissingRecordBeforeAdmitsAllRemembered) {
    const RelayedRecords records = ServedInOrder({1, 2, 3, 4}, 3);
    const PoseRecordBytes zeros{};
    EXPECT_THAT(records.FrameCandidates(zeros, zeros),
                UnorderedElementsAre(zeros, Record(2), Record(3), Record(4)));
    EXPECT_THAT(records.FrameCandidates(std::nullopt, Record(4)),
                UnorderedElementsAre(Record(2), Record(3), Record(4)));
    EXPECT_THAT(records.FrameCandidates(Record(1), std::nullopt),
                UnorderedElementsAre(Record(1), Record(2), Record(3), Record(4)));
}

}  // namespace
}  // namespace quenlark::demo
