// A curve built in memory from its definition: the same record, bit for bit, as the file of
// the same numbers loads to (uniform and explicit knots, degrees 2 to 7, planar and spatial);
// every definition that is no curve refused, naming the point or knot.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "core/curve_def.hpp"
#include "io/curve_file.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;

namespace {

// True when the two arrays hold the same bits (NaN included: a degree-2 curve's third
// polygon is NaN throughout).
template <class T> bool same_bits(const std::vector<T> &a, const std::vector<T> &b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// Expects `a` and `b` to be the same record: every count, every array the loader fills, bit
// for bit; the four arrays no operation fills allocated in both (their contents are left
// uninitialised by design, so there are no bits to compare).
void expect_same_record(const nurbs_curve &a, const nurbs_curve &b, const std::string &what) {
    EXPECT_EQ(a.deg, b.deg) << what;
    EXPECT_EQ(a.ncp, b.ncp) << what;
    EXPECT_EQ(a.nk, b.nk) << what;
    EXPECT_EQ(a.nsubk, b.nsubk) << what;
    EXPECT_EQ(a.k_start, b.k_start) << what;
    EXPECT_EQ(a.k_end, b.k_end) << what;
    EXPECT_EQ(std::memcmp(&a.L, &b.L, sizeof a.L), 0) << what;
    for (auto knots : {&nurbs_curve::knots, &nurbs_curve::knots_1d, &nurbs_curve::knots_2d,
                       &nurbs_curve::knots_3d})
        EXPECT_TRUE(same_bits(a.*knots, b.*knots)) << what;
    for (auto points :
         {&nurbs_curve::control_points, &nurbs_curve::control_points_1d,
          &nurbs_curve::control_points_2d, &nurbs_curve::control_points_3d, &nurbs_curve::tmp_pts,
          &nurbs_curve::tmp_pts_1d, &nurbs_curve::tmp_pts_2d, &nurbs_curve::tmp_pts_3d})
        EXPECT_TRUE(same_bits(a.*points, b.*points)) << what;
    EXPECT_TRUE(a.ctp_u && b.ctp_u && a.kL && b.kL && a.subku && b.subku && a.subkL && b.subkL)
        << what;
}

// Returns a definition of `n` random points of degree `deg` and dimension `dim`; z is set in
// dimension 2 too (a planar curve has none: loading must drop it). With `explicit_knots` the
// knots run from -3 over spans of 0.25 .. 2 units with an interior knot repeated deg times.
curve_def random_def(unsigned n, unsigned deg, unsigned dim, bool explicit_knots, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> coord(-100, 100), weight(0.3, 3), span(0.25, 2);
    curve_def d{deg, dim, {}, {}};
    for (unsigned i = 0; i < n; ++i)
        d.points.push_back({coord(gen), coord(gen), coord(gen), weight(gen)});
    if (!explicit_knots) return d;
    double k = -3;
    d.knots.assign(deg + 1, k);
    const unsigned interior = n - deg - 1, repeated = interior / 2;
    for (unsigned i = 0; i < interior; ++i) {
        if (!(i > repeated && i < repeated + deg)) k += span(gen);
        d.knots.push_back(k);
    }
    d.knots.insert(d.knots.end(), deg + 1, k + span(gen));
    return d;
}

TEST(CurveDef, FromMemoryTheSameRecordAsFromTheFile) {
    test_util::temp_dir dir;
    unsigned seed = 1;
    for (unsigned deg = 2; deg <= 7; ++deg)
        for (unsigned dim : {2u, 3u})
            for (bool explicit_knots : {false, true})
                for (unsigned n : {deg + 1, deg + 1 + 3 * deg}) {
                    const curve_def d = random_def(n, deg, dim, explicit_knots, ++seed);
                    const std::string path = dir.file("c.nurbs");
                    test_util::write_file(path, curve_file_text(d));
                    nurbs_curve from_file, from_memory;
                    nurbs_curve_alloc_file(path.c_str(), &from_file);
                    nurbs_curve_alloc_def(d, &from_memory);
                    expect_same_record(from_file, from_memory,
                                       "degree " + std::to_string(deg) + ", D" +
                                           std::to_string(dim) + ", " + std::to_string(n) +
                                           (explicit_knots ? " points, explicit knots"
                                                           : " points, uniform knots"));
                }
}

TEST(CurveDef, PlanarPointsLoadWithZeroZAndTheSmallestCurvesLikeTheLoader) {
    // A planar definition's z is not part of the curve; the loader's worked cases hold.
    nurbs_curve c;
    nurbs_curve_alloc_def({3, 2, {{1.5, -2, 9, 2}, {3, 1, 9, 2}, {4, 4, 9, 2}, {6, 2, 9, 2}}, {}},
                          &c);
    EXPECT_EQ(c.control_points[0].x, 3.0);
    EXPECT_EQ(c.control_points[0].y, -4.0);
    EXPECT_EQ(c.control_points[0].z, 0.0);
    EXPECT_EQ(c.knots, (std::vector<double>{0, 0, 0, 0, 1, 1, 1, 1}));
    EXPECT_EQ(c.nsubk, 1001u);
    for (const nurbs_ctrl_pt &p : c.control_points_3d)
        EXPECT_EQ(p.z, 0.0);
}

TEST(CurveDef, EveryProblemNamesThePointOrKnot) {
    const std::vector<nurbs_ctrl_pt> four = {
        {0, 0, 0, 1}, {1, 1, 0, 1}, {2, 0, 0, 1}, {3, 1, 0, 1}};
    auto with = [&](std::size_t i, nurbs_ctrl_pt p) {
        std::vector<nurbs_ctrl_pt> pts = four;
        pts[i] = p;
        return pts;
    };
    const struct {
        curve_def def;
        std::string problem;
        std::size_t at;
    } cases[] = {
        {{1, 2, four, {}}, "degree 1 is outside 2..25", 0},
        {{26, 2, four, {}}, "degree 26 is outside 2..25", 0},
        {{3, 4, four, {}}, "dimension 4 is not 2 or 3", 0},
        {{3, 2, {four.begin(), four.begin() + 3}, {}},
         "3 control points are fewer than degree + 1 = 4",
         0},
        {{3, 2, with(2, {NAN, 0, 0, 1}), {}},
         "control point 3 has a coordinate that is not finite",
         2},
        {{3, 3, with(1, {0, 0, INFINITY, 1}), {}},
         "control point 2 has a coordinate that is not finite",
         1},
        {{3, 2, with(3, {0, 0, 0, 0}), {}}, "control point 4 has a weight that is not positive", 3},
        {{3, 2, with(0, {0, 0, 0, INFINITY}), {}},
         "control point 1 has a weight that is not positive",
         0},
        {{3, 2, four, {0, 0, 0, 0, 1, 1, 1}},
         "7 knots for 4 control points of degree 3; it takes 8",
         7},
        {{3, 2, four, {0, 0, 0, 0, 2, 1, 1, 1}},
         "knot 6 (1) is below the one before it (2): knots must not decrease",
         5},
    };
    for (const auto &c : cases) {
        std::size_t at = 99;
        EXPECT_EQ(curve_def_problem(c.def, &at), c.problem);
        EXPECT_EQ(at, c.at) << c.problem;
        nurbs_curve record;
        try {
            nurbs_curve_alloc_def(c.def, &record);
            ADD_FAILURE() << "loaded: " << c.problem;
        } catch (const curve_def_error &e) {
            EXPECT_EQ(e.what(), c.problem);
            EXPECT_EQ(e.at, c.at);
        }
        EXPECT_TRUE(record.control_points.empty() && record.knots.empty()) << "record touched";
    }
    // A planar definition's z is not read; no knots is the clamped uniform vector.
    std::size_t at = 0;
    EXPECT_EQ(curve_def_problem({3, 2, with(1, {0, 0, NAN, 1}), {}}, &at), "");
    EXPECT_EQ(curve_def_problem({3, 2, four, {-1, -1, -1, -1, 5, 5, 5, 5}}, &at), "");
}

TEST(CurveDef, KnotsThatFallTogetherOnTheUnitIntervalAreRefusedAsTheFileIs) {
    // Interior knots 0, 1, 2 over a range of 2e300 all map to 0.5.
    const curve_def d{2,
                      2,
                      std::vector<nurbs_ctrl_pt>(6, {1, 2, 0, 1}),
                      {-1e300, -1e300, -1e300, 0, 1, 2, 1e300, 1e300, 1e300}};
    std::size_t at = 0;
    EXPECT_EQ(curve_def_problem(d, &at), "") << "the importers' checks take it";
    nurbs_curve c;
    try {
        nurbs_curve_alloc_def(d, &c);
        FAIL() << "loaded";
    } catch (const curve_def_error &e) {
        EXPECT_STREQ(e.what(), KNOTS_MERGED_ON_UNIT);
        test_util::temp_dir dir;
        test_util::write_file(dir.file("k.nurbs"), curve_file_text(d));
        try {
            nurbs_curve_alloc_file(dir.file("k.nurbs").c_str(), &c);
            FAIL() << "the file loaded";
        } catch (const nurbs_file_error &f) {
            // The file names the line of the knot the definition names by its index.
            EXPECT_EQ(std::string(f.what()), dir.file("k.nurbs") + ":" + std::to_string(e.at + 2) +
                                                 ": " + KNOTS_MERGED_ON_UNIT);
        }
    }
}

TEST(CurveDef, KnotsOfADefinitionAreTheLoadersOwn) {
    for (unsigned deg : {2u, 3u, 7u})
        for (unsigned n : {deg + 1, deg + 5, 3 * deg + 10}) {
            const curve_def d = random_def(n, deg, 2, false, n);
            nurbs_curve c;
            nurbs_curve_alloc_def(d, &c);
            EXPECT_TRUE(same_bits(curve_def_knots(d), c.knots)) << deg << " " << n;
        }
    const curve_def given = random_def(9, 3, 3, true, 5);
    EXPECT_EQ(curve_def_knots(given), given.knots);
}

} // namespace
