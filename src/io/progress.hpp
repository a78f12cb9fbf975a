// Progress of long work on standard error, shown only when it is a terminal, and the one long
// measurement every program makes: the curve's total length.
#pragma once

#include <string>

#include "core/nurbs.hpp"

namespace nurbs_interp {

// A "<label> NN%" line rewritten in place on standard error (a terminal only); cleared by
// done() or when the object goes.
class progress_line {
  public:
    explicit progress_line(std::string label);
    ~progress_line();
    // Shows `fraction` (0..1) when it has moved by a whole percent.
    void show(double fraction);
    // Clears the line.
    void done();
    bool active() const { return active_; }

  private:
    std::string label_;
    int shown_ = -1;
    bool active_;
};

// Returns adaptiveSimpsons(nurbs_arc_len, curve, 0, 1, epsilon, depth), value for value,
// showing "<label> NN%" meanwhile: the quadrature visits u from 0 to 1 in order, so the
// parameter of the latest integrand call tells how far it has come.
double measure_length_with_progress(nurbs_curve *curve, const std::string &label,
                                    double epsilon = 1e-12, int depth = 30);

} // namespace nurbs_interp
