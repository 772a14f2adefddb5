#include "sim/demo/terminal_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/demo/pose_math.h"

namespace quenlark::demo {
namespace {

constexpr const char* kReverse = "\x1b[7m";
constexpr const char* kReset = "\x1b[0m";

// Shown rounded to the digits given, and never as "-0.0".
double Shown(double v, double digits) {
    const double scale = std::pow(10.0, digits);
    return std::round(v * scale) / scale + 0.0;
}

std::string Format(const char* format, double a, double b, double c, double digits) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, Shown(a, digits), Shown(b, digits),
                  Shown(c, digits));
    return buffer;
}

// "+0.220  +1.140  -0.400        +12.3   -4.5   +8.0" for a position and a quaternion.
std::string PoseColumns(const double (&position)[3], const double (&rotation)[4]) {
    double angles[3];
    YawPitchRollDegrees(rotation, angles);
    return Format("%+7.3f %+7.3f %+7.3f", position[0], position[1], position[2], 3) + "      " +
           Format("%+7.1f %+7.1f %+7.1f", angles[0], angles[1], angles[2], 1);
}

// An input shown as a key: reversed while pressed.
std::string Key(const std::string& label, bool pressed) {
    return pressed ? std::string(kReverse) + " " + label + " " + kReset : " " + label + " ";
}

std::string Seconds(double seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f s", seconds);
    return buffer;
}

}  // namespace

std::string FitToWidth(const std::string& text, int columns) {
    std::string out;
    int visible = 0;
    bool escaped = false;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0x1b && i + 1 < text.size() && text[i + 1] == '[') {
            // A CSI sequence: ESC [ parameters, then one final byte from @ to ~.
            std::size_t end = i + 2;
            while (end < text.size() && !(text[end] >= 0x40 && text[end] <= 0x7e)) {
                ++end;
            }
            end = std::min(end + 1, text.size());
            out.append(text, i, end - i);
            escaped = true;
            i = end;
            continue;
        }
        std::size_t length = 1;
        if (c >= 0xf0) {
            length = 4;
        } else if (c >= 0xe0) {
            length = 3;
        } else if (c >= 0xc0) {
            length = 2;
        }
        if (visible == columns) {
            break;
        }
        out.append(text, i, std::min(length, text.size() - i));
        ++visible;
        i += length;
    }
    if (escaped) {
        out += kReset;
    }
    return out;
}

std::vector<std::string> TerminalView::Lines(const ViewState& s, int columns) {
    std::vector<std::string> lines;
    std::string heading = "Quenlark K7 simulated session   " + Seconds(s.elapsed);
    heading += s.duration ? " of " + Seconds(*s.duration) : " (Ctrl-C ends it)";
    lines.push_back(heading);
    lines.push_back("Link: " +
                    (s.pistol ? s.linkState : s.linkState + " (no pistol in this session)"));
    lines.push_back(
        "                          position (m)                   rotation (deg: yaw pitch roll)");

    const DevicePose controller = PositionAndRotation(s.frame.controller);
    lines.push_back("  right-hand controller  " +
                    PoseColumns(controller.position, controller.rotation));
    if (s.frame.deviceReported) {
        lines.push_back("  pistol (device)        " +
                        PoseColumns(s.frame.device.position, s.frame.device.rotation));
    } else {
        lines.push_back("  pistol (device)        no pose reported yet");
    }

    const InputStates& in = s.frame.inputs;
    char value[16];
    std::snprintf(value, sizeof value, "%.2f", in.fireValue);
    char presses[96];
    std::snprintf(presses, sizeof presses, "   presses: fire %d  eject %d  load %d", s.firePresses,
                  s.ejectPresses, s.loadPresses);
    lines.push_back("Inputs: " + Key("fire", in.fireClick) + " " +
                    Key(std::string("value ") + value, in.fireValue > 0) + " " +
                    Key("eject mag", in.ejectMagClick) + " " + Key("load mag", in.loadMagClick) +
                    presses);

    char rates[160];
    std::snprintf(
        rates, sizeof rates, "Frames: %lld, %.1f per second    Relay: %.0f publications per second",
        static_cast<long long>(s.frames), s.framesPerSecond, s.relayPublicationsPerSecond);
    lines.push_back(rates);

    lines.push_back("Driver log:");
    const std::size_t shown = std::min(s.logLines.size(), kLogLinesShown);
    for (std::size_t i = s.logLines.size() - shown; i < s.logLines.size(); ++i) {
        lines.push_back("  " + s.logLines[i]);
    }
    // A block of fixed height, so that redrawing it never leaves old lines below.
    for (std::size_t i = shown; i < kLogLinesShown; ++i) {
        lines.push_back("");
    }

    // One column short of the width: a line that fills the last column makes some
    // terminals wrap, and the block would scroll.
    for (std::string& line : lines) {
        line = FitToWidth(line, std::max(1, columns - 1));
    }
    return lines;
}

std::string TerminalView::StatusLine(const ViewState& s) {
    char head[160];
    std::snprintf(
        head, sizeof head, "[%7.1f s] frames %lld (%.1f/s), relay %.0f/s, link: ", s.elapsed,
        static_cast<long long>(s.frames), s.framesPerSecond, s.relayPublicationsPerSecond);
    std::string line = head + s.linkState;
    if (s.frame.deviceReported) {
        line += Format(", device %+.3f %+.3f %+.3f", s.frame.device.position[0],
                       s.frame.device.position[1], s.frame.device.position[2], 3);
    } else {
        line += ", device: no pose yet";
    }
    char presses[80];
    std::snprintf(presses, sizeof presses, ", presses: fire %d eject %d load %d", s.firePresses,
                  s.ejectPresses, s.loadPresses);
    line += presses;
    if (!s.logLines.empty()) {
        line += ", last log: " + s.logLines.back();
    }
    return line;
}

TerminalView::TerminalView(std::FILE* out, bool live, int columns)
    : out_(out), live_(live), columns_(columns) {}

TerminalView::~TerminalView() {
    if (cursorHidden_) {
        std::fputs("\x1b[?25h", out_);
        std::fflush(out_);
    }
}

void TerminalView::Update(const ViewState& state, double now) {
    const InputStates& in = state.frame.inputs;
    const bool inputsChanged = in.fireClick != lastInputs_.fireClick ||
                               in.fireValue != lastInputs_.fireValue ||
                               in.ejectMagClick != lastInputs_.ejectMagClick ||
                               in.loadMagClick != lastInputs_.loadMagClick;
    lastInputs_ = in;
    if (live_) {
        if (!lastDraw_ || inputsChanged || now - *lastDraw_ >= kRedrawInterval) {
            lastDraw_ = now;
            Draw(state);
        }
        return;
    }
    if (!lastDraw_) {
        lastDraw_ = now;
    } else if (now - *lastDraw_ >= 1.0) {
        // Advance by whole seconds, so the lines keep their beat when a frame runs late.
        while (now - *lastDraw_ >= 1.0) {
            *lastDraw_ += 1.0;
        }
        Draw(state);
    }
}

void TerminalView::Finish(const ViewState& state) {
    // The last state, unless it is what was drawn last.
    if (lastDrawnFrames_ != state.frames) {
        Draw(state);
    }
    if (cursorHidden_) {
        std::fputs("\x1b[?25h", out_);
        cursorHidden_ = false;
    }
    std::fflush(out_);
}

void TerminalView::Draw(const ViewState& state) {
    lastDrawnFrames_ = state.frames;
    if (!live_) {
        const std::string line = StatusLine(state) + "\n";
        std::fputs(line.c_str(), out_);
        std::fflush(out_);
        return;
    }
    std::string block;
    if (!cursorHidden_) {
        block += "\x1b[?25l";
        cursorHidden_ = true;
    }
    if (drawnLines_ > 0) {
        // Back to the first line of the block drawn last.
        block += "\x1b[" + std::to_string(drawnLines_) + "F";
    }
    const std::vector<std::string> lines = Lines(state, columns_);
    for (const std::string& line : lines) {
        block += line;
        block += "\x1b[K\n";
    }
    block += "\x1b[J";
    drawnLines_ = static_cast<int>(lines.size());
    std::fwrite(block.data(), 1, block.size(), out_);
    std::fflush(out_);
}

}  // namespace quenlark::demo
