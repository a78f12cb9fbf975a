#include "io/progress.hpp"

#include <cstdio>
#include <unistd.h> // isatty
#include <utility>  // move

namespace nurbs_interp {

progress_line::progress_line(std::string label)
    : label_(std::move(label)), active_(isatty(fileno(stderr)) != 0) {}

progress_line::~progress_line() {
    done();
}

void progress_line::show(double fraction) {
    if (!active_) return;
    const int pct = fraction >= 1 ? 100 : fraction > 0 ? static_cast<int>(fraction * 100) : 0;
    if (pct == shown_) return;
    shown_ = pct;
    std::fprintf(stderr, "\r%s %3d%%", label_.c_str(), pct);
    std::fflush(stderr);
}

void progress_line::done() {
    if (!active_ || shown_ < 0) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + 5, "");
    std::fflush(stderr);
    shown_ = -1;
}

double measure_length_with_progress(nurbs_curve *curve, const std::string &label, double epsilon,
                                    int depth) {
    progress_line line(label);
    if (!line.active()) return adaptiveSimpsons(nurbs_arc_len, curve, 0.0, 1.0, epsilon, depth);
    unsigned long calls = 0;
    auto speed = [&](double u) {
        if ((++calls & 0xFFFFF) == 0) line.show(u);
        return nurbs_arc_len(u, curve);
    };
    return simpson_integrate(speed, 0.0, 1.0, epsilon, depth);
}

} // namespace nurbs_interp
