#include "sim/demo/relayed_records.h"

#include <algorithm>

namespace quenlark::demo {

RelayedRecords::RelayedRecords(std::size_t kept) : kept_(std::max<std::size_t>(kept, 1)) {}

void RelayedRecords::Served(const PoseRecordBytes& record) {
    if (served_.size() == kept_) {
        served_.pop_front();
    }
    served_.push_back(record);
}

std::vector<PoseRecordBytes> RelayedRecords::FrameCandidates(
    const std::optional<PoseRecordBytes>& before,
    const std::optional<PoseRecordBytes>& after) const {
    std::vector<PoseRecordBytes> candidates;
    auto add = [&candidates](const PoseRecordBytes& record) {
        if (std::find(candidates.begin(), candidates.end(), record) == candidates.end()) {
            candidates.push_back(record);
        }
    };
    if (before) {
        add(*before);
    }
    if (after) {
        add(*after);
    }
    // The earliest remembered serving of the record seen before: a scene that came back to
    // an earlier pose must not hide the records served in between.
    auto from = served_.begin();
    if (before) {
        const auto found = std::find(served_.begin(), served_.end(), *before);
        if (found != served_.end()) {
            from = std::next(found);
        }
    }
    std::for_each(from, served_.end(), add);
    return candidates;
}

}  // namespace quenlark::demo
