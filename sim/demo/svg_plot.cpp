#include "sim/demo/svg_plot.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace quenlark::demo {
namespace {

constexpr double kWidth = 1000;
constexpr double kHeight = 790;
constexpr const char* kControllerColour = "#1f6fb4";
constexpr const char* kDeviceColour = "#e8772e";
constexpr const char* kPressColour = "#2e9d5b";

struct Box {
    double left, top, width, height;
};

// Numbers in the picture: fixed notation, two decimals (a hundredth of a pixel).
std::string Num(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", v);
    return buffer;
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// A tick step of 1, 2 or 5 times a power of ten that gives at most about maxTicks ticks.
double TickStep(double span, int maxTicks) {
    const double raw = span / std::max(1, maxTicks);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= raw) {
            return m * power;
        }
    }
    return 10.0 * power;
}

// The span of one coordinate over both paths, widened to at least minimum and padded.
struct Range {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    void Take(double v) {
        if (std::isfinite(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    void Settle(double minimum) {
        if (!(low <= high)) {
            low = -minimum / 2;
            high = minimum / 2;
        }
        const double centre = (low + high) / 2;
        const double half = std::max(high - low, minimum) / 2 * 1.1;
        low = centre - half;
        high = centre + half;
    }
    double Span() const { return high - low; }
};

// One view of the paths: horizontal and vertical coordinate (index into x, y, z), with
// the vertical axis pointing up in the picture when flipVertical, and forward (-z)
// pointing right or up when the axis is z.
struct View {
    const char* title;
    int horizontal;
    bool negateHorizontal;
    const char* horizontalLabel;
    int vertical;
    bool negateVertical;
    const char* verticalLabel;
};

class PathPanel {
  public:
    PathPanel(const View& view, const Box& box, const Range (&ranges)[3], double scale)
        : view_(view), box_(box), scale_(scale) {
        const Range& h = ranges[view.horizontal];
        const Range& v = ranges[view.vertical];
        hCentre_ = Oriented(view.negateHorizontal, (h.low + h.high) / 2);
        vCentre_ = Oriented(view.negateVertical, (v.low + v.high) / 2);
    }

    double X(const double (&p)[3]) const {
        return XOf(Oriented(view_.negateHorizontal, p[view_.horizontal]));
    }
    double Y(const double (&p)[3]) const {
        return YOf(Oriented(view_.negateVertical, p[view_.vertical]));
    }

    void Frame(std::string& svg) const {
        svg += "<g class=\"panel\">\n";
        svg += "<rect x=\"" + Num(box_.left) + "\" y=\"" + Num(box_.top) + "\" width=\"" +
               Num(box_.width) + "\" height=\"" + Num(box_.height) +
               "\" fill=\"#fbfbfb\" stroke=\"#999\"/>\n";
        svg += "<text x=\"" + Num(box_.left) + "\" y=\"" + Num(box_.top - 8) +
               "\" class=\"heading\">" + view_.title + "</text>\n";
        Grid(svg);
        svg += "<text x=\"" + Num(box_.left + box_.width / 2) + "\" y=\"" +
               Num(box_.top + box_.height + 34) + "\" text-anchor=\"middle\" class=\"axis\">" +
               view_.horizontalLabel + "</text>\n";
        svg += "<text transform=\"translate(" + Num(box_.left - 46) + " " +
               Num(box_.top + box_.height / 2) +
               ") rotate(-90)\" text-anchor=\"middle\" class=\"axis\">" + view_.verticalLabel +
               "</text>\n";
        svg += "</g>\n";
    }

    // The path as polylines, broken where a point is missing.
    void Path(std::string& svg, const std::vector<PathPoint>& points, bool device,
              const char* colour, const char* name) const {
        svg += "<g class=\"path\" data-name=\"" + std::string(name) + "\" fill=\"none\" stroke=\"" +
               colour + "\" stroke-width=\"1.6\" stroke-linejoin=\"round\">\n";
        std::string run;
        int runPoints = 0;
        auto flush = [&] {
            if (runPoints >= 2) {
                svg += "<polyline points=\"" + run + "\"/>\n";
            }
            run.clear();
            runPoints = 0;
        };
        bool haveFirst = false;
        double firstX = 0, firstY = 0;
        for (const PathPoint& point : points) {
            const double(&p)[3] = device ? point.device : point.controller;
            const bool usable = (!device || point.deviceReported) && std::isfinite(p[0]) &&
                                std::isfinite(p[1]) && std::isfinite(p[2]);
            if (!usable) {
                flush();
                continue;
            }
            const double x = X(p), y = Y(p);
            if (!haveFirst) {
                haveFirst = true;
                firstX = x;
                firstY = y;
            }
            if (runPoints > 0) {
                run += ' ';
            }
            run += Num(x) + "," + Num(y);
            ++runPoints;
        }
        flush();
        if (haveFirst) {
            svg += "<circle cx=\"" + Num(firstX) + "\" cy=\"" + Num(firstY) +
                   "\" r=\"3.5\" fill=\"" + colour + "\"><title>" + name +
                   " at the start</title></circle>\n";
        }
        svg += "</g>\n";
    }

  private:
    static double Oriented(bool negate, double v) { return negate ? -v : v; }
    double XOf(double h) const { return box_.left + box_.width / 2 + (h - hCentre_) * scale_; }
    double YOf(double v) const { return box_.top + box_.height / 2 - (v - vCentre_) * scale_; }

    void Grid(std::string& svg) const {
        const double hHalf = box_.width / 2 / scale_, vHalf = box_.height / 2 / scale_;
        const double step = TickStep(std::max(hHalf, vHalf) * 2, 8);
        svg += "<g class=\"grid\" stroke=\"#e2e2e2\" stroke-width=\"1\">\n";
        std::string labels;
        for (double h = std::ceil((hCentre_ - hHalf) / step) * step; h <= hCentre_ + hHalf + 1e-9;
             h += step) {
            const double x = XOf(h);
            svg += "<line x1=\"" + Num(x) + "\" y1=\"" + Num(box_.top) + "\" x2=\"" + Num(x) +
                   "\" y2=\"" + Num(box_.top + box_.height) + "\"/>\n";
            labels += "<text x=\"" + Num(x) + "\" y=\"" + Num(box_.top + box_.height + 16) +
                      "\" text-anchor=\"middle\">" + Label(h) + "</text>\n";
        }
        for (double v = std::ceil((vCentre_ - vHalf) / step) * step; v <= vCentre_ + vHalf + 1e-9;
             v += step) {
            const double y = YOf(v);
            svg += "<line x1=\"" + Num(box_.left) + "\" y1=\"" + Num(y) + "\" x2=\"" +
                   Num(box_.left + box_.width) + "\" y2=\"" + Num(y) + "\"/>\n";
            labels += "<text x=\"" + Num(box_.left - 6) + "\" y=\"" + Num(y + 4) +
                      "\" text-anchor=\"end\">" + Label(v) + "</text>\n";
        }
        svg += "</g>\n<g class=\"ticks\">\n" + labels + "</g>\n";
    }

    static std::string Label(double metres) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.2f", std::fabs(metres) < 1e-9 ? 0.0 : metres);
        return buffer;
    }

    View view_;
    Box box_;
    double scale_;
    double hCentre_ = 0, vCentre_ = 0;
};

void Timeline(std::string& svg, const PlotTrace& trace, const Box& box) {
    const double start = trace.StartTime();
    const double span = std::max(trace.EndTime() - start, 1e-3);
    const double labelWidth = 110;
    const double left = box.left + labelWidth, width = box.width - labelWidth;
    auto xOf = [&](double t) { return left + (t - start) / span * width; };

    struct Row {
        const char* name;
        std::vector<Press> presses;
    };
    const Row rows[] = {
        {"fire (click)", trace.FirePresses()},
        {"fire (value)", {}},
        {"eject magazine", trace.EjectMagPresses()},
        {"load magazine", trace.LoadMagPresses()},
    };
    const double rowHeight = box.height / 4;

    svg += "<g class=\"timeline\">\n";
    svg += "<text x=\"" + Num(box.left) + "\" y=\"" + Num(box.top - 8) +
           "\" class=\"heading\">Inputs over time (seconds)</text>\n";
    const double step = TickStep(span, 15);
    for (double t = std::ceil(start / step) * step; t <= start + span + 1e-9; t += step) {
        const double x = xOf(t);
        svg += "<line x1=\"" + Num(x) + "\" y1=\"" + Num(box.top) + "\" x2=\"" + Num(x) +
               "\" y2=\"" + Num(box.top + box.height) + "\" stroke=\"#e2e2e2\"/>\n";
        char label[32];
        std::snprintf(label, sizeof label, "%g", std::round(t / step) * step);
        svg += "<text x=\"" + Num(x) + "\" y=\"" + Num(box.top + box.height + 16) +
               "\" text-anchor=\"middle\">" + label + "</text>\n";
    }
    for (int r = 0; r < 4; ++r) {
        const double top = box.top + r * rowHeight;
        svg += "<text x=\"" + Num(box.left) + "\" y=\"" + Num(top + rowHeight / 2 + 4) + "\">" +
               rows[r].name + "</text>\n";
        svg += "<line x1=\"" + Num(left) + "\" y1=\"" + Num(top + rowHeight - 4) + "\" x2=\"" +
               Num(left + width) + "\" y2=\"" + Num(top + rowHeight - 4) + "\" stroke=\"#bbb\"/>\n";
        if (r == 1) {
            // The trigger's value as a step line between 0 (row bottom) and 1 (row top).
            const auto& steps = trace.FireValueSteps();
            if (!steps.empty()) {
                auto yOf = [&](float v) {
                    return top + rowHeight - 4 - std::clamp(v, 0.0f, 1.0f) * (rowHeight - 10);
                };
                std::string points;
                for (std::size_t i = 0; i < steps.size(); ++i) {
                    const double until = i + 1 < steps.size() ? steps[i + 1].time : trace.EndTime();
                    points += Num(xOf(steps[i].time)) + "," + Num(yOf(steps[i].value)) + " " +
                              Num(xOf(until)) + "," + Num(yOf(steps[i].value)) + " ";
                }
                svg += "<polyline class=\"value\" fill=\"none\" stroke=\"" +
                       std::string(kPressColour) + "\" stroke-width=\"1.5\" points=\"" + points +
                       "\"/>\n";
            }
            continue;
        }
        for (const Press& press : rows[r].presses) {
            const double x = xOf(press.start);
            const double w = std::max(1.5, xOf(press.end) - x);
            char title[96];
            std::snprintf(title, sizeof title, "%s pressed %.3f s to %.3f s%s", rows[r].name,
                          press.start, press.end, press.open ? " (still held)" : "");
            svg += "<rect class=\"press\" x=\"" + Num(x) + "\" y=\"" + Num(top + 6) +
                   "\" width=\"" + Num(w) + "\" height=\"" + Num(rowHeight - 10) + "\" fill=\"" +
                   kPressColour + "\"><title>" + title + "</title></rect>\n";
        }
    }
    svg += "</g>\n";
}

}  // namespace

std::string RenderSvgPlot(const PlotTrace& trace, const PlotLabels& labels) {
    Range ranges[3];
    for (const PathPoint& point : trace.Points()) {
        for (int i = 0; i < 3; ++i) {
            ranges[i].Take(point.controller[i]);
            if (point.deviceReported) {
                ranges[i].Take(point.device[i]);
            }
        }
    }
    for (Range& range : ranges) {
        range.Settle(0.2);
    }

    const Box above{90, 90, 380, 380};
    const Box side{580, 90, 380, 380};
    // One scale for both views and both axes, so that shapes and lengths compare.
    const double scale = std::min({above.width / ranges[0].Span(), above.height / ranges[2].Span(),
                                   side.width / ranges[2].Span(), side.height / ranges[1].Span()});
    const View aboveView{"Seen from above", 0, false, "right, +x (m)", 2, true, "forward, -z (m)"};
    const View sideView{"Seen from the side", 2, true, "forward, -z (m)", 1, false, "up, +y (m)"};
    const PathPanel panels[] = {{aboveView, above, ranges, scale}, {sideView, side, ranges, scale}};

    std::string svg;
    svg.reserve(64 * 1024 + trace.Points().size() * 40);
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(kWidth) + "\" height=\"" +
           Num(kHeight) + "\" viewBox=\"0 0 " + Num(kWidth) + " " + Num(kHeight) +
           "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    svg += "<title>" + Escape(labels.title) + "</title>\n";
    svg +=
        "<style>.heading{font-size:14px;font-weight:bold}.axis{font-size:12px;fill:#444}</style>\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"40\" y=\"32\" font-size=\"18\" font-weight=\"bold\">" + Escape(labels.title) +
           "</text>\n";
    if (!labels.subtitle.empty()) {
        svg += "<text x=\"40\" y=\"54\" fill=\"#444\">" + Escape(labels.subtitle) + "</text>\n";
    }
    // Legend.
    svg += "<g class=\"legend\">\n";
    svg += "<line x1=\"620\" y1=\"28\" x2=\"650\" y2=\"28\" stroke=\"" +
           std::string(kControllerColour) +
           "\" stroke-width=\"3\"/><text x=\"656\" y=\"32\">right-hand controller</text>\n";
    svg += "<line x1=\"800\" y1=\"28\" x2=\"830\" y2=\"28\" stroke=\"" +
           std::string(kDeviceColour) +
           "\" stroke-width=\"3\"/><text x=\"836\" y=\"32\">pistol (device)</text>\n";
    svg += "</g>\n";

    for (const PathPanel& panel : panels) {
        panel.Frame(svg);
        panel.Path(svg, trace.Points(), false, kControllerColour, "right-hand controller");
        panel.Path(svg, trace.Points(), true, kDeviceColour, "pistol (device)");
    }
    if (trace.Frames() == 0) {
        svg +=
            "<text x=\"500\" y=\"280\" text-anchor=\"middle\" fill=\"#a00\">No frames were "
            "run.</text>\n";
    }
    Timeline(svg, trace, Box{40, 560, 920, 180});
    svg += "</svg>\n";
    return svg;
}

bool WriteSvgPlot(const std::string& path, const PlotTrace& trace, const PlotLabels& labels,
                  std::string& error) {
    const std::string svg = RenderSvgPlot(trace, labels);
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(svg.data(), 1, svg.size(), file) == svg.size();
    const int writeErrno = errno;
    const bool flushed = std::fflush(file) == 0;
    const int flushErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !flushed || !closed) {
        error = "cannot write " + path + ": " +
                std::strerror(!written   ? writeErrno
                              : !flushed ? flushErrno
                                         : errno);
        return false;
    }
    return true;
}

}  // namespace quenlark::demo
