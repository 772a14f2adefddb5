#pragma once
// The --plot picture: a standalone SVG file that any browser shows. On top the controller's
// path and the device's path seen from above and from the side, at one scale in metres;
// under them the timeline of the four inputs.

#include <string>

#include "sim/demo/plot_trace.h"

namespace quenlark::demo {

struct PlotLabels {
    std::string title = "Quenlark K7 simulated session";
    std::string subtitle;  // e.g. frames and duration; may be empty
};

std::string RenderSvgPlot(const PlotTrace& trace, const PlotLabels& labels);

// Writes the picture to the file; false with a message when the file cannot be written.
bool WriteSvgPlot(const std::string& path, const PlotTrace& trace, const PlotLabels& labels,
                  std::string& error);

}  // namespace quenlark::demo
