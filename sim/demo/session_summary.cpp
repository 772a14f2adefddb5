#include "sim/demo/session_summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/demo/pose_math.h"

namespace quenlark::demo {

void SessionTally::AddFrame(const FrameSample& sample) {
    if (!started_) {
        started_ = true;
        firstTime_ = sample.time;
    }
    ++summary_.frames;
    summary_.seconds = sample.time - firstTime_;
    summary_.firePresses += sample.inputs.fireClick && !previous_.fireClick;
    summary_.ejectPresses += sample.inputs.ejectMagClick && !previous_.ejectMagClick;
    summary_.loadPresses += sample.inputs.loadMagClick && !previous_.loadMagClick;
    previous_ = sample.inputs;
}

void SessionTally::ComparePose(const DevicePose& reported, const DevicePose& composed) {
    const double difference = PoseDifference(reported, composed);
    summary_.largestPoseDifference = summary_.posesCompared == 0
                                         ? difference
                                         : std::max(summary_.largestPoseDifference, difference);
    ++summary_.posesCompared;
}

std::vector<std::string> SummaryProblems(const SessionSummary& s,
                                         const SummaryExpectations& expected) {
    std::vector<std::string> problems;
    char line[200];
    auto compare = [&](const char* what, int sent, int seen) {
        if (sent != seen) {
            std::snprintf(line, sizeof line, "%s: %d sent but %d presses seen", what, sent, seen);
            problems.emplace_back(line);
        }
    };
    if (s.pistol && !s.linkReadyAfter) {
        problems.emplace_back("the link never connected to the pistol, so nothing was sent");
    }
    compare("shots", s.shotsSent, s.firePresses);
    compare("magazine ejects", s.ejectsSent, s.ejectPresses);
    compare("magazine loads", s.loadsSent, s.loadPresses);
    if (s.posesCompared == 0) {
        problems.emplace_back("the driver reported no device pose to compare");
    } else if (!(s.largestPoseDifference <= expected.largestPoseDifference)) {
        std::snprintf(
            line, sizeof line,
            "the device pose differs from the composed pose by %.3g (at most %.3g expected)",
            s.largestPoseDifference, expected.largestPoseDifference);
        problems.emplace_back(line);
    }
    if (!(s.relayPublicationsPerSecond >= expected.minimumRelayPublicationsPerSecond)) {
        std::snprintf(line, sizeof line,
                      "the relay published %.0f poses per second (at least %.0f expected)",
                      s.relayPublicationsPerSecond, expected.minimumRelayPublicationsPerSecond);
        problems.emplace_back(line);
    }
    if (s.processesLeft > 0) {
        std::snprintf(line, sizeof line,
                      "%d of the session's processes still running after it ended",
                      s.processesLeft);
        problems.emplace_back(line);
    }
    return problems;
}

std::string FormatSummary(const SessionSummary& s) {
    std::string out = "Session summary\n";
    char line[256];
    auto add = [&](const char* label, const std::string& value) {
        std::snprintf(line, sizeof line, "  %-26s %s\n", label, value.c_str());
        out += line;
    };
    auto text = [&](const char* format, auto... values) {
        char buffer[200];
        std::snprintf(buffer, sizeof buffer, format, values...);
        return std::string(buffer);
    };

    const double rate = s.seconds > 0 ? static_cast<double>(s.frames - 1) / s.seconds : 0.0;
    add("frames run", text("%lld in %.1f s (%.1f per second)", static_cast<long long>(s.frames),
                           s.seconds, rate));
    if (s.pistol) {
        add("pistol link", s.linkReadyAfter
                               ? text("connected and subscribed after %.1f s", *s.linkReadyAfter)
                               : std::string("never connected"));
        add("shots sent", text("%d, fire presses seen %d", s.shotsSent, s.firePresses));
        add("magazine ejects sent", text("%d, presses seen %d", s.ejectsSent, s.ejectPresses));
        add("magazine loads sent", text("%d, presses seen %d", s.loadsSent, s.loadPresses));
    } else {
        add("pistol", text("none (--no-pistol); presses seen: fire %d, eject %d, load %d",
                           s.firePresses, s.ejectPresses, s.loadPresses));
    }
    if (s.posesCompared > 0) {
        add("largest pose difference",
            text("%.3g (device pose against the composed controller pose, %lld frames)",
                 s.largestPoseDifference, static_cast<long long>(s.posesCompared)));
    } else {
        add("largest pose difference", "none compared: the driver reported no device pose");
    }
    add("relay publications", text("%.0f per second", s.relayPublicationsPerSecond));
    add("processes left running",
        s.processesLeft == 0 ? std::string("none") : text("%d", s.processesLeft));
    if (!s.recordPath.empty()) {
        add("frames recorded in", s.recordPath);
    }
    if (!s.plotPath.empty()) {
        add("plot written to", s.plotPath);
    }
    return out;
}

}  // namespace quenlark::demo
