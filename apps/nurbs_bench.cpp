// nurbs_bench: times the feedrate correction polynomial interpolator over the whole feed
// profile, measuring the true arc length of every step, and prints the loop's duration.
#include <cstdio>  // fopen, printf
#include <cstring> // strcmp for --help
#include <string>  // the table check's message

#include "core/curve_identity.hpp"
#include "core/interpolate.hpp"
#include "io/curve_load.hpp"
#include "core/nurbs.hpp"
#include "io/feed_profile.hpp"
#include "io/progress.hpp"
#include "io/tick_clock.hpp"

// The servo period in seconds.
#define SERVOPERIOD 0.00025

using namespace nurbs_interp;

namespace {

// Prints what the driver does, its inputs and outputs and its exit status.
void print_help() {
    std::printf(
        "usage: nurbs_bench\n"
        "Loads S1200X30quorbel.nurbs and fprof.txt from the working directory, measures the\n"
        "curve's length, creates nurbs_out.txt (left empty), then steps the feedrate\n"
        "correction polynomial once per profile sample (T = 0.00025 s) while measuring the\n"
        "true arc length of every step (adaptive Simpson, 1e-12, depth 30), and prints\n"
        "\"deltaT=<microseconds>\": the time of that loop, in whole microseconds.\n"
        "Exit status 0; 255 (-1) when an input cannot be read or nurbs_out.txt cannot be\n"
        "created, or when the curve is not the one the compiled-in table was made for (its\n"
        "control points, degree and checksum: fit a table for it with fcp_fit and rebuild).\n"
        "Other arguments are ignored.\n");
}

// True when `curve` is the one the compiled-in table was made for; otherwise says so on standard
// error. The table follows u(s) of one curve; on any other it would time steps to the wrong
// parameters as if nothing were wrong.
bool is_the_tables_curve(const nurbs_curve &curve) {
    const std::string other = identity_mismatch(fcp_builtin_identity(), curve);
    if (other.empty()) return true;
    std::fprintf(stderr,
                 "S1200X30quorbel.nurbs: not the curve the compiled-in feedrate correction "
                 "table was made for (table: %s); fit a table for it with fcp_fit -o "
                 "src/core/FCP_init.hpp and rebuild\n",
                 other.c_str());
    return false;
}

} // namespace

int main(int argc, char **argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        print_help();
        return 0;
    }
    std::FILE *fid = nullptr;
    nurbs_curve curve;
    double u = 0.0;
    double un = 0.0;
    double s = 0.0;
    double ds = 0.0;
    [[maybe_unused]] double ierr = 0.0; // feed error of the step, computed and not kept
    [[maybe_unused]] double Len = 0.0;  // total length, measured and not used
    int numsamp = 0;
    int i = 0;
    static std::int64_t Frequency, StartTime, StopTime, ElapsedMicroseconds;

    try {
        nurbs_curve_alloc_file("S1200X30quorbel.nurbs", &curve);
    } catch (const nurbs_file_error &e) {
        report_load_error(e);
        return -1;
    }
    if (!is_the_tables_curve(curve)) {
        nurbs_curve_free(&curve);
        return -1;
    }
    Len = measure_length_with_progress(&curve, "measuring the curve length:");

    feed_profile prof;
    try {
        prof = read_feed_profile("fprof.txt");
    } catch (const profile_error &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return -1;
    }
    numsamp = static_cast<int>(prof.v.size());
    const double *v = prof.v.data();

    fid = std::fopen("nurbs_out.txt", "w");
    if (fid == nullptr) {
        std::printf("ERROR: could not open file nurbs_out.txt\n");
        return -1;
    }

    Frequency = tick_frequency();
    StartTime = tick_count();
    u = 0.0;
    un = 0.0;
    s = 0.0;
    for (i = 0; i < numsamp; i++) {
        u = un;
        un = get_u_FCP(s, v[i], SERVOPERIOD);
        ds = adaptiveSimpsons(nurbs_arc_len, &curve, u, un, 1e-12, 30);
        ierr = SERVOPERIOD * v[i] - ds;
        s = s + ds;
    }
    StopTime = tick_count();

    ElapsedMicroseconds = StopTime - StartTime;
    ElapsedMicroseconds = ticks_to_microseconds(ElapsedMicroseconds, Frequency);
    std::printf("deltaT=%lli\n", static_cast<long long>(ElapsedMicroseconds));

    std::fclose(fid);
    nurbs_curve_free(&curve);
    return 0;
}
