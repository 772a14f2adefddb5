#pragma once
// What the person sees while the session runs. On a terminal: a block of lines redrawn in
// place with plain ANSI sequences (the link's state and the driver's last log lines, the
// device's position and rotation beside the right-hand controller's, the four inputs as
// they press and release, frames and relay publications per second). Without a terminal
// (piped output, CI): one status line a second.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "sim/demo/frame_sample.h"

namespace quenlark::demo {

struct ViewState {
    double elapsed = 0.0;            // seconds since the first frame
    std::optional<double> duration;  // none: until Ctrl-C
    std::string linkState;
    std::vector<std::string> logLines;  // the driver's last lines, oldest first
    FrameSample frame;                  // the latest frame
    std::int64_t frames = 0;
    int firePresses = 0;
    int ejectPresses = 0;
    int loadPresses = 0;
    double framesPerSecond = 0.0;
    double relayPublicationsPerSecond = 0.0;
    bool pistol = true;
};

class TerminalView {
  public:
    // live: redraw in place (the stream is a terminal); otherwise a status line a second.
    // columns: the terminal's width; lines are cut to fit, so that none wraps.
    TerminalView(std::FILE* out, bool live, int columns);
    ~TerminalView();
    TerminalView(const TerminalView&) = delete;
    TerminalView& operator=(const TerminalView&) = delete;

    // Shows the state when it is time to: live at most every redrawInterval seconds (and
    // at once when an input changed, so that no press is missed), otherwise once a second.
    // now: seconds on the session's steady clock.
    void Update(const ViewState& state, double now);

    // Draws the last state once more (live) and gives the cursor back; call before
    // printing the summary.
    void Finish(const ViewState& state);

    // The live block's lines, without escape sequences for position (for tests too).
    static std::vector<std::string> Lines(const ViewState& state, int columns);
    // The one status line of the non-terminal mode.
    static std::string StatusLine(const ViewState& state);

    static constexpr double kRedrawInterval = 1.0 / 30.0;
    static constexpr std::size_t kLogLinesShown = 6;

  private:
    void Draw(const ViewState& state);

    std::FILE* out_;
    bool live_;
    int columns_;
    int drawnLines_ = 0;
    bool cursorHidden_ = false;
    std::optional<double> lastDraw_;
    std::optional<std::int64_t> lastDrawnFrames_;
    InputStates lastInputs_;
};

// Cuts text to at most columns visible characters, counting UTF-8 characters and not
// counting ANSI escape sequences, which are kept whole.
std::string FitToWidth(const std::string& text, int columns);

}  // namespace quenlark::demo
