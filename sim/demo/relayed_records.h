#pragma once
// Which pose records a frame of the driver can have read from the shared pose block.
//
// The relay publishes, pass after pass, the right-hand controller's record as the runtime
// served it when the pass began; the session changes the scene once a frame. A frame's read
// falls between the session's own look at the block just before the frame and its look
// just after, so the record the driver read is one of: the record seen before, the record
// seen after, or one the runtime served after the record seen before (a pass that was
// under way may still have published it). Comparing the driver's pose with the composition
// of these, and only these, checks the driver against what it was really given, exact to
// rounding, without slowing the relay.

#include <array>
#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

namespace quenlark::demo {

// The 80 bytes of a vr::TrackedDevicePose_t, as the runtime serves it and the relay copies it.
using PoseRecordBytes = std::array<unsigned char, 80>;

class RelayedRecords {
  public:
    // kept: how many served records to remember; a relay would have to lag this many scene
    // changes behind for a record it published to be missing.
    explicit RelayedRecords(std::size_t kept = 32);

    // The right-hand record the runtime serves from now on.
    void Served(const PoseRecordBytes& record);

    // The records the frame may have read, each once, given the block's record just before
    // and just after the frame (none when the block could not be read). When the record
    // before is not among the remembered ones (the block's initial zeros, or the relay's
    // default record) every remembered record is a candidate.
    std::vector<PoseRecordBytes> FrameCandidates(const std::optional<PoseRecordBytes>& before,
                                                 const std::optional<PoseRecordBytes>& after) const;

  private:
    std::size_t kept_;
    std::deque<PoseRecordBytes> served_;  // oldest first
};

}  // namespace quenlark::demo
