/* Method libraries for the tests of loading and running them (test_method_lib), written in C
 * against nurbs_method.h alone. One file, built once per variant (TEST_LIB_<variant>):
 *   MISBEHAVING  methods that fail in every way a method can, and methods that work
 *   CLASH        a method named as a built-in one, in other letters ("rk2")
 *   TWIN         "Twin" (and TWIN2: "TWIN", the same name in other letters)
 *   NOENTRY      no entry point
 *   VERSION      an entry point of another interface version
 *   LAYOUT       this version, but records of another size
 *   BADNAME      a method whose name holds a blank
 */
#include <math.h>
#include <signal.h>
#include <stdlib.h>

#include "nurbs_method.h"

/* After this time into a motion the misbehaving methods misbehave, s: 40 periods of 0.25 ms. */
#define MISBEHAVE_AFTER 0.01

/* Returns 1/|C'(u)|. */
static double du_ds(const nurbs_method_curve *c, double u) {
    double d1[3];
    c->eval(c->curve, u, NULL, d1, NULL, NULL);
    return 1.0 / sqrt(d1[0] * d1[0] + d1[1] * d1[1] + d1[2] * d1[2]);
}

/* The midpoint step of du/ds = 1/|C'| over v*T, clamped at the curve's end. */
static double midpoint_step(const nurbs_method_step *in) {
    const double h = in->v * in->T;
    const double u = in->u + h * du_ds(in->curve, in->u + h / 2 * du_ds(in->curve, in->u));
    return u > 1.0 ? 1.0 : u;
}

#if !defined(TEST_LIB_MISBEHAVING)
static double plain_step(void *context, const nurbs_method_step *in) {
    (void)context;
    return midpoint_step(in);
}
#endif

#if defined(TEST_LIB_MISBEHAVING)

static double nan_step(void *context, const nurbs_method_step *in) {
    (void)context;
    return in->t >= MISBEHAVE_AFTER ? NAN : midpoint_step(in);
}

static double backwards_step(void *context, const nurbs_method_step *in) {
    (void)context;
    return in->t >= MISBEHAVE_AFTER ? in->u - 1e-3 : midpoint_step(in);
}

static double before_start_step(void *context, const nurbs_method_step *in) {
    (void)context;
    return in->t >= MISBEHAVE_AFTER ? -0.5 : midpoint_step(in);
}

static double hang_step(void *context, const nurbs_method_step *in) {
    volatile int forever = 1;
    (void)context;
    while (in->t >= MISBEHAVE_AFTER && forever) {
    }
    return midpoint_step(in);
}

static double crash_step(void *context, const nurbs_method_step *in) {
    (void)context;
    if (in->t >= MISBEHAVE_AFTER) abort();
    return midpoint_step(in);
}

static double exit_step(void *context, const nurbs_method_step *in) {
    (void)context;
    if (in->t >= MISBEHAVE_AFTER) exit(3);
    return midpoint_step(in);
}

/* A method with a context: it counts its steps since its motion began and moves 1e-13 of the
 * parameter further for each, so that a step depends on the count. */
struct counter {
    double steps;
    int starts;
};

static void *counter_create(const nurbs_method_curve *curve) {
    struct counter *c = calloc(1, sizeof *c);
    (void)curve;
    return c;
}

static void counter_destroy(void *context) {
    free(context);
}

static void counter_start(void *context) {
    struct counter *c = context;
    c->steps = 0;
    c->starts += 1;
}

static double counter_step(void *context, const nurbs_method_step *in) {
    struct counter *c = context;
    c->steps += 1;
    const double u = midpoint_step(in) + 1e-13 * c->steps;
    return u > 1.0 ? 1.0 : u;
}

static void counter_save(const void *context, void *state) {
    *(double *)state = ((const struct counter *)context)->steps;
}

static void counter_restore(void *context, const void *state) {
    ((struct counter *)context)->steps = *(const double *)state;
}

/* Newton's iteration on the measured arc length, reporting its corrector loop. */
struct newton {
    nurbs_method_corrector last;
};

static void *newton_create(const nurbs_method_curve *curve) {
    (void)curve;
    return calloc(1, sizeof(struct newton));
}

static double newton_step(void *context, const nurbs_method_step *in) {
    struct newton *n = context;
    const nurbs_method_curve *c = in->curve;
    const double h = in->v * in->T;
    double u = midpoint_step(in), r = 0;
    n->last.iterations = 0;
    n->last.stop = NURBS_METHOD_STOP_BOUND;
    for (int k = 0; k < 20; ++k) {
        r = c->arc_length(c->curve, in->u, u, 1e-13, 30) - h;
        if (fabs(r) <= 1e-12) {
            n->last.stop = NURBS_METHOD_STOP_TOLERANCE;
            break;
        }
        u -= r * du_ds(c, u);
        n->last.iterations += 1;
    }
    n->last.residual = fabs(r);
    return u > 1.0 ? 1.0 : u;
}

static void newton_last(const void *context, nurbs_method_corrector *out) {
    *out = ((const struct newton *)context)->last;
}

/* The run's feedrate correction table read at the target arc length, as FCP reads it. */
static double table_step(void *context, const nurbs_method_step *in) {
    (void)context;
    return in->curve->table_u(in->curve->table, in->s, in->v, in->T);
}

static const nurbs_method METHODS[] = {
    {.name = "NaNStep", .about = "NaN after 10 ms", .step = nan_step},
    {.name = "Backwards", .about = "back by 1e-3 after 10 ms", .step = backwards_step},
    {.name = "BeforeStart", .about = "u = -0.5 after 10 ms", .step = before_start_step},
    {.name = "Hang", .about = "never returns after 10 ms", .step = hang_step},
    {.name = "Crash", .about = "aborts after 10 ms", .step = crash_step},
    {.name = "Exits", .about = "exit(3) after 10 ms", .step = exit_step},
    {.name = "Counter",
     .about = "counts its steps in its context, saves and restores the count",
     .create = counter_create,
     .destroy = counter_destroy,
     .step = counter_step,
     .start = counter_start,
     .state_size = sizeof(double),
     .save = counter_save,
     .restore = counter_restore},
    {.name = "Forgetful",
     .about = "counts its steps, but neither saves nor restores the count",
     .create = counter_create,
     .destroy = counter_destroy,
     .step = counter_step,
     .start = counter_start},
    {.name = "Newton",
     .about = "Newton on the measured arc length",
     .create = newton_create,
     .destroy = counter_destroy,
     .step = newton_step,
     .residual = "mm, tolerance 1e-12 mm",
     .last_corrector = newton_last},
    {.name = "TableReader",
     .about = "the run's table at s + v*T, as FCP",
     .step = table_step,
     .uses_table = 1},
};
NURBS_METHOD_LIBRARY(METHODS)

#elif defined(TEST_LIB_CLASH)
static const nurbs_method METHODS[] = {{.name = "rk2", .about = "a clash", .step = plain_step}};
NURBS_METHOD_LIBRARY(METHODS)

#elif defined(TEST_LIB_TWIN)
static const nurbs_method METHODS[] = {{.name = "Twin", .about = "one", .step = plain_step}};
NURBS_METHOD_LIBRARY(METHODS)

#elif defined(TEST_LIB_TWIN2)
static const nurbs_method METHODS[] = {{.name = "TWIN", .about = "two", .step = plain_step}};
NURBS_METHOD_LIBRARY(METHODS)

#elif defined(TEST_LIB_NOENTRY)
/* A method, but no entry point. */
const nurbs_method lonely = {.name = "Lonely", .about = "never found", .step = plain_step};

#elif defined(TEST_LIB_VERSION) || defined(TEST_LIB_LAYOUT)
static const nurbs_method METHODS[] = {{.name = "Old", .about = "old", .step = plain_step}};
NURBS_METHOD_EXPORT const nurbs_method_library *nurbs_interp_methods(void) {
#if defined(TEST_LIB_VERSION)
    static const nurbs_method_library library = {999, sizeof(nurbs_method_library),
                                                 sizeof(nurbs_method), 1, METHODS};
#else
    static const nurbs_method_library library = {NURBS_METHOD_ABI_VERSION,
                                                 sizeof(nurbs_method_library),
                                                 sizeof(nurbs_method) - 8, 1, METHODS};
#endif
    return &library;
}

#elif defined(TEST_LIB_BADNAME)
static const nurbs_method METHODS[] = {{.name = "my method", .about = "", .step = plain_step}};
NURBS_METHOD_LIBRARY(METHODS)
#endif
