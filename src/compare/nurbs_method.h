/* nurbs_method.h: the interface of an interpolator loaded at run time by interp_compare and
 * interp_suite (--method-lib PATH). A method library is a shared object that exports one C
 * function, nurbs_interp_methods(), returning a table of methods; the programs run each of them
 * beside the built-in ones, exactly as those are run (every column, the replay of the worst
 * step, --methods, --joints split).
 *
 * Plain C, so that a method can be written in C or C++ and built by any compiler: no C++ type
 * crosses the interface. The curve is an opaque handle; the library evaluates it through the
 * routines it is handed (those of the program that loaded it), so it needs neither the core's
 * library nor its curve record's layout.
 *
 * Units: lengths in mm (the curve file's unit), time in s, feed in mm/s, acceleration mm/s^2,
 * jerk mm/s^3; the parameter u runs over [0, 1].
 *
 * Version: a library records the NURBS_METHOD_ABI_VERSION it was built with, and the sizes of
 * the two records below; a program refuses a library whose version or sizes are not its own
 * (it never runs a method on a layout it does not know). The first member of
 * nurbs_method_library stays abi_version in every version.
 */
#ifndef NURBS_METHOD_H
#define NURBS_METHOD_H

#include <stddef.h> /* size_t */

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this interface; it changes whenever a record below changes. */
#define NURBS_METHOD_ABI_VERSION 1

/* The entry point every method library exports, by this name. */
#define NURBS_METHOD_ENTRY "nurbs_interp_methods"

/* The curve a run is on, and the routines that evaluate it. Handed to create() and, in every
 * step, through nurbs_method_step::curve. The routines are the program's own: the rational de
 * Boor evaluation and the adaptive Simpson quadrature of the arc length every built-in method
 * uses. They write the curve's scratch memory: call them from the method's own calls only. */
typedef struct nurbs_method_curve {
    void *curve;   /* opaque: pass it to the routines below */
    double length; /* the curve's accurate length (per knot span), mm */
    /* Its joints (interior knots repeated at least degree - 1 times, where |C'| or C'' may
     * jump): their parameters, ascending, and how many. */
    const double *joint_u;
    size_t joint_count;

    /* Evaluates the point C(u) into P and, where not null, C'(u), C''(u), C'''(u) into d1, d2,
     * d3 (x, y, z; z = 0 for a planar curve). Any of the four may be null. End rules: any u >= 1
     * evaluates at the curve's end, any u < 0 at its start; at a repeated knot the derivatives
     * are those from the right. A NaN u gives NaN outputs. */
    void (*eval)(void *curve, double u, double *P, double *d1, double *d2, double *d3);

    /* Returns the arc length from u0 to u1 (negative when u1 < u0) by adaptive Simpson
     * quadrature of |C'| with tolerance eps and at most depth levels of refinement (depth is
     * taken within [0, 50]). The driver's own step lengths use eps 1e-12, depth 30. */
    double (*arc_length)(void *curve, double u0, double u1, double eps, int depth);

    /* For a method that declares uses_table: the run's feedrate correction table (the
     * compiled-in one, one fitted for this curve, or the one --fcp-table names), and its
     * parameter at arc length s + v*T on the piece that s lies in, exactly as the built-in FCP
     * reads it (not clamped; table_u(table, in->s, in->v, in->T) is FCP's step). Both null for
     * other methods. */
    const void *table;
    double (*table_u)(const void *table, double s, double v, double T);
} nurbs_method_curve;

/* What a step sees at the start of one servo period. */
typedef struct nurbs_method_step {
    double u; /* the method's own parameter: where its previous step ended (0 at the start) */
    double s; /* the arc length travelled so far: the sum of the measured step lengths, mm */
    double v; /* this sample's feed, mm/s */
    double a; /* its path acceleration, mm/s^2 */
    double j; /* its path jerk, mm/s^3 */
    double t; /* the time since the method's motion began, s (it begins again at a joint
                 under --joints split, after start()) */
    double T; /* the time this step covers, s: the servo period, or under --joints split
                 what is left of it after a joint */
    const nurbs_method_curve *curve;
} nurbs_method_step;

/* How a corrector loop ended (an iterative method's report, see last_corrector). */
enum nurbs_method_stop {
    NURBS_METHOD_STOP_TOLERANCE = 0,  /* the residual reached the tolerance */
    NURBS_METHOD_STOP_STAGNATION = 1, /* an update did not reduce the residual */
    NURBS_METHOD_STOP_BOUND = 2,      /* the most updates allowed */
    NURBS_METHOD_STOP_GUARD = 3       /* a guard: a zero derivative, a runaway update */
};

typedef struct nurbs_method_corrector {
    int iterations;  /* corrector updates in the last step */
    int stop;        /* enum nurbs_method_stop */
    double residual; /* the residual's magnitude at the iterate kept, in the unit `residual`
                        names */
} nurbs_method_corrector;

/* One method. Only name, about and step are required; every other member may be 0 or null. */
typedef struct nurbs_method {
    /* Its name in tables, CSV columns and --methods: 1 to 32 letters, digits and '_', starting
     * with a letter, not beginning with "get_u_"; unique among the built-in and loaded methods
     * (names are compared ignoring case). */
    const char *name;
    /* One line saying what it is, for the lines above a table (at most 200 printable
     * characters). */
    const char *about;

    /* Makes one instance for a run on `curve` (untimed: precompute here) and returns its
     * context, handed to every other call; null create: the context is null. A run makes one
     * instance and destroys it after the run and its replay. Returning null is allowed. In a
     * process of its own (the default) create and destroy may take 60 s each, every other call
     * 1 s, before the method is stopped and fails. */
    void *(*create)(const nurbs_method_curve *curve);
    void (*destroy)(void *context);

    /* One servo period: returns the parameter at the end of the period. This call is timed
     * (with the evaluations it asks for). A result that is not finite, below 0, a step back
     * along the curve, or a jump of several times the commanded length fails the method. */
    double (*step)(void *context, const nurbs_method_step *in);

    /* Prepares a fresh motion: before the first step, and under --joints split again at every
     * joint (a method with a history starts it over there). */
    void (*start)(void *context);

    /* The state the next step depends on, so that any step can be run again alone (the
     * replay of the worst steps restores it before each repetition): state_size bytes (at
     * most 1024) written by save and read back by restore. A method whose steps depend on
     * anything besides the step's input and this state fails its replay. 0: none. */
    size_t state_size;
    void (*save)(const void *context, void *state);
    void (*restore)(void *context, const void *state);

    /* For a method with a corrector loop: the unit and tolerance of its residual ("mm,
     * tolerance 1e-12 mm"), and how its last step's loop ended. Both or neither. */
    const char *residual;
    void (*last_corrector)(const void *context, nurbs_method_corrector *out);

    /* Non-zero: the method runs on the run's feedrate correction table (curve->table), which
     * the program then fits for the curve if need be; under --joints split a step whose target
     * arc length passes a joint takes the table's parameter there instead of calling step. */
    int uses_table;
} nurbs_method;

/* What nurbs_interp_methods() returns. */
typedef struct nurbs_method_library {
    unsigned abi_version; /* NURBS_METHOD_ABI_VERSION */
    size_t library_size;  /* sizeof(nurbs_method_library) */
    size_t method_size;   /* sizeof(nurbs_method) */
    size_t count;         /* methods in the table (1 to 32) */
    const nurbs_method *methods;
} nurbs_method_library;

/* The entry point's type. */
typedef const nurbs_method_library *(*nurbs_method_entry)(void);

#if defined(__GNUC__)
#define NURBS_METHOD_EXPORT __attribute__((visibility("default")))
#else
#define NURBS_METHOD_EXPORT
#endif

/* The entry point a library defines (NURBS_METHOD_LIBRARY below writes it). */
NURBS_METHOD_EXPORT const nurbs_method_library *nurbs_interp_methods(void);

#ifdef __cplusplus
#define NURBS_METHOD_EXTERN_C extern "C"
#else
#define NURBS_METHOD_EXTERN_C
#endif

/* Defines the entry point over a static array of methods: NURBS_METHOD_LIBRARY(my_methods). */
#define NURBS_METHOD_LIBRARY(methods_array)                                                        \
    NURBS_METHOD_EXTERN_C NURBS_METHOD_EXPORT const nurbs_method_library *nurbs_interp_methods(    \
        void) {                                                                                    \
        static const nurbs_method_library library = {                                              \
            NURBS_METHOD_ABI_VERSION, sizeof(nurbs_method_library), sizeof(nurbs_method),          \
            sizeof(methods_array) / sizeof((methods_array)[0]), (methods_array)};                  \
        return &library;                                                                           \
    }

#ifdef __cplusplus
}
#endif

#endif /* NURBS_METHOD_H */
