#pragma once
// The session's closing account: what was sent, what the driver made of it, how closely
// the device followed the controller and how busy the relay was.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/demo/frame_sample.h"

namespace quenlark::demo {

struct SessionSummary {
    std::int64_t frames = 0;
    double seconds = 0.0;  // from the first frame to the last
    bool pistol = true;    // false with --no-pistol
    // Seconds from the first frame until the link was connected and subscribed; none when
    // it never was (with a pistol, nothing could then be sent).
    std::optional<double> linkReadyAfter;
    int shotsSent = 0;
    int firePresses = 0;  // presses of /input/fire/click the driver reported
    int ejectsSent = 0;
    int ejectPresses = 0;
    int loadsSent = 0;
    int loadPresses = 0;
    std::int64_t posesCompared = 0;  // frames whose device pose was checked
    double largestPoseDifference = 0.0;
    double relayPublicationsPerSecond = 0.0;
    // The session's child processes (relay, bus, pistol) still there after it shut down.
    int processesLeft = 0;
    std::string recordPath;  // empty without --record
    std::string plotPath;    // empty without --plot
};

// Builds the summary's counts from the frames as they run.
class SessionTally {
  public:
    // Counts the frame and every input that went from released to pressed in it.
    void AddFrame(const FrameSample& sample);
    // Notes how far the device pose the driver reported lies from the composition of the
    // controller pose it was given.
    void ComparePose(const DevicePose& reported, const DevicePose& composed);
    void ShotSent() { ++summary_.shotsSent; }
    void EjectSent() { ++summary_.ejectsSent; }
    void LoadSent() { ++summary_.loadsSent; }

    // The summary so far; the caller adds what the tally cannot know (rates, paths).
    const SessionSummary& Summary() const { return summary_; }
    SessionSummary& Summary() { return summary_; }

  private:
    SessionSummary summary_;
    bool started_ = false;
    double firstTime_ = 0.0;
    InputStates previous_;
};

// What a healthy session shows; the thresholds a caller may hold the summary to.
struct SummaryExpectations {
    double largestPoseDifference = 1e-9;
    double minimumRelayPublicationsPerSecond = 1000.0;
};

// Plain-words problems with the session, empty when all is as expected: a pistol the link
// never reached, presses seen that differ from what was sent, a pose difference above the
// bound (or no pose compared at all), a relay publishing slower than the minimum, processes
// left running.
std::vector<std::string> SummaryProblems(const SessionSummary& summary,
                                         const SummaryExpectations& expected = {});

// The summary as the lines printed at the end of a session.
std::string FormatSummary(const SessionSummary& summary);

}  // namespace quenlark::demo
