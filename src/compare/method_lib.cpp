#include "compare/method_lib.hpp"

#include <algorithm> // clamp
#include <array>
#include <cctype>    // isalnum: method names
#include <cmath>     // NAN
#include <cstring>   // memcpy: the entry point's address, strnlen
#include <dlfcn.h>   // dlopen, dlsym
#include <strings.h> // strcasecmp
#include <sys/stat.h> // a library is a regular file
#include <utility>   // index_sequence

#include "compare/contained_run.hpp"
#include "compare/nurbs_method.h"
#include "compare/session.hpp"  // unrun_method
#include "core/interpolate.hpp" // get_u_FCP, fcp_runtime_u
#include "io/format.hpp"
#include "io/input_file.hpp" // unreadable_input

namespace nurbs_interp {

namespace {

// ---- The program's routines, through which a loaded method evaluates its curve ----

arc_len_integrand G_integrand = nurbs_arc_len;

void host_eval(void *curve, double u, double *P, double *d1, double *d2, double *d3) {
    cart_point p, c1, c2, c3;
    // The evaluator gives a derivative only together with all lower ones.
    const bool want3 = d3, want2 = want3 || d2, want1 = want2 || d1;
    nurbs_deBoor_eval(u, -1, static_cast<nurbs_curve *>(curve), &p, want1 ? &c1 : nullptr,
                      want2 ? &c2 : nullptr, want3 ? &c3 : nullptr);
    const auto put = [](double *out, const cart_point &c) {
        out[0] = c.x;
        out[1] = c.y;
        out[2] = c.z;
    };
    if (P) put(P, p);
    if (d1) put(d1, c1);
    if (d2) put(d2, c2);
    if (d3) put(d3, c3);
}

double host_arc_length(void *curve, double u0, double u1, double eps, int depth) {
    return adaptiveSimpsons(G_integrand, curve, u0, u1, eps, std::clamp(depth, 0, 50));
}

// Stands for the compiled-in table (a run's fcp_table pointer is null for it).
const char BUILTIN_TABLE = 0;

double host_table_u(const void *table, double s, double v, double T) {
    if (table == &BUILTIN_TABLE) return get_u_FCP(s, v, T);
    return fcp_runtime_u(*static_cast<const fcp_table *>(table), s, v, T);
}

// ---- Slots: the program's record of each loaded method ----

struct loaded_slot {
    const nurbs_method *desc = nullptr;
    std::string name, about, residual, library;
    compare_method method{};
    // The instance of the run in progress (live between create and destroy).
    bool live = false;
    void *instance = nullptr;
    nurbs_method_curve view{};
    std::vector<double> joint_u;
    call_watch *watch = nullptr; // in a child process: where its calls are marked
};

std::array<loaded_slot, MAX_LOADED_METHODS> G_slots;
std::size_t G_slot_count = 0;

// The libraries opened, to refuse one given twice.
struct opened_library {
    void *handle;
    std::string path;
};
std::vector<opened_library> G_opened;

// Marks a call of the method in the watch (in a child process) while it lasts.
class marked_call {
  public:
    marked_call(const loaded_slot &s, loaded_call c) : watch_(s.watch) {
        if (!watch_) return;
        watch_->calls.store(watch_->calls.load(std::memory_order_relaxed) + 1,
                            std::memory_order_relaxed);
        watch_->call.store(int(c), std::memory_order_relaxed);
    }
    ~marked_call() {
        if (watch_) watch_->call.store(int(loaded_call::none), std::memory_order_relaxed);
    }
    marked_call(const marked_call &) = delete;
    marked_call &operator=(const marked_call &) = delete;

  private:
    call_watch *watch_;
};

double slot_step(loaded_slot &s, const compare_step &in) {
    if (!s.live) return NAN; // no instance: only run_loaded_method makes one
    const nurbs_method_step step{in.u, in.s, in.v, in.a, in.j, in.t, in.T, &s.view};
    if (s.watch) {
        s.watch->u.store(in.u, std::memory_order_relaxed);
        s.watch->t.store(in.t, std::memory_order_relaxed);
    }
    marked_call mark(s, loaded_call::step);
    return s.desc->step(s.instance, &step);
}

void slot_start(loaded_slot &s) {
    marked_call mark(s, loaded_call::start);
    s.desc->start(s.instance);
}

void slot_save(loaded_slot &s, void *state) {
    marked_call mark(s, loaded_call::save);
    s.desc->save(s.instance, state);
}

void slot_restore(loaded_slot &s, const void *state) {
    marked_call mark(s, loaded_call::restore);
    s.desc->restore(s.instance, state);
}

corrector_report slot_corrector(loaded_slot &s) {
    nurbs_method_corrector c{0, NURBS_METHOD_STOP_TOLERANCE, 0.0};
    {
        marked_call mark(s, loaded_call::corrector);
        s.desc->last_corrector(s.instance, &c);
    }
    // A stop the interface does not know is counted as a guard.
    const corrector_stop stop = c.stop == NURBS_METHOD_STOP_TOLERANCE ? corrector_stop::tolerance
                                : c.stop == NURBS_METHOD_STOP_STAGNATION
                                    ? corrector_stop::stagnation
                                : c.stop == NURBS_METHOD_STOP_BOUND ? corrector_stop::bound
                                                                    : corrector_stop::guard;
    return {c.iterations, stop, c.residual};
}

// The calls of slot K as a compare_method's members: plain functions, so that a loaded method
// is driven exactly as a built-in one.
struct slot_calls {
    double (*step)(const compare_step &);
    void (*start)();
    void (*save)(void *);
    void (*restore)(const void *);
    corrector_report (*corrector)();
};

template <std::size_t K> double step_k(const compare_step &in) {
    return slot_step(G_slots[K], in);
}
template <std::size_t K> void start_k() {
    slot_start(G_slots[K]);
}
template <std::size_t K> void save_k(void *state) {
    slot_save(G_slots[K], state);
}
template <std::size_t K> void restore_k(const void *state) {
    slot_restore(G_slots[K], state);
}
template <std::size_t K> corrector_report corrector_k() {
    return slot_corrector(G_slots[K]);
}

template <std::size_t... K>
constexpr std::array<slot_calls, sizeof...(K)> make_slot_calls(std::index_sequence<K...>) {
    return {{slot_calls{step_k<K>, start_k<K>, save_k<K>, restore_k<K>, corrector_k<K>}...}};
}
constexpr std::array<slot_calls, MAX_LOADED_METHODS> SLOT_CALLS =
    make_slot_calls(std::make_index_sequence<MAX_LOADED_METHODS>());

loaded_slot &slot_of(const compare_method &m) {
    for (std::size_t k = 0; k < G_slot_count; ++k)
        if (&G_slots[k].method == &m) return G_slots[k];
    throw std::logic_error(std::string(m.name) + " is not a loaded method");
}

// ---- Checks of a library's table ----

// Returns the text at p, at most `max` characters read, or why it is not one line of printable
// characters of at most `max`.
std::string bounded_text(const char *p, std::size_t max, std::string *problem) {
    const std::string text(p, strnlen(p, max + 1));
    if (text.size() > max) *problem = "is longer than " + std::to_string(max) + " characters";
    for (char c : text)
        if (c < 0x20 || c > 0x7e) *problem = "holds a character that is not printable ASCII";
    return text;
}

// Returns what is wrong with the name of a loaded method ("" when nothing).
std::string name_problem(const std::string &name) {
    if (name.empty() || name.size() > 32) return "is not 1 to 32 characters";
    if (!std::isalpha(static_cast<unsigned char>(name[0]))) return "does not start with a letter";
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            return "holds a character other than letters, digits and '_'";
    std::string lower = name.substr(0, 6);
    for (char &c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "get_u_") return "begins with \"get_u_\", which --methods strips";
    return "";
}

// Checks method i of a library's table; returns what is wrong ("" when nothing). Its name,
// about and residual texts are read into `out`.
std::string method_problem(const nurbs_method &m, loaded_slot &out) {
    std::string p;
    if (!m.name) return "no name";
    out.name = bounded_text(m.name, 32, &p);
    if (!p.empty() || !(p = name_problem(out.name)).empty()) return "its name " + p;
    if (!m.about) return "no about text";
    out.about = bounded_text(m.about, 200, &p);
    if (!p.empty()) return "its about text " + p;
    if (!m.step) return "no step";
    if (!m.residual != !m.last_corrector)
        return "one of residual and last_corrector without the other";
    if (m.residual) out.residual = bounded_text(m.residual, 100, &p);
    if (!p.empty()) return "its residual text " + p;
    if ((m.state_size > 0) != (m.save != nullptr) || !m.save != !m.restore)
        return "state_size, save and restore not all given nor all left out";
    if (m.state_size > MAX_LOADED_STATE)
        return "state_size " + std::to_string(m.state_size) + " bytes, more than the " +
               std::to_string(MAX_LOADED_STATE) + " a loaded method may save";
    return "";
}

// Returns the library's table of methods, or throws why there is none.
const nurbs_method_library *library_table(void *handle, const std::string &path) {
    dlerror();
    void *symbol = dlsym(handle, NURBS_METHOD_ENTRY);
    if (!symbol)
        throw method_library_error(path + ": no entry point " + NURBS_METHOD_ENTRY +
                                   ": not a method library (one defines it with "
                                   "NURBS_METHOD_LIBRARY of nurbs_method.h)");
    nurbs_method_entry entry;
    std::memcpy(&entry, &symbol, sizeof entry);
    const nurbs_method_library *lib = entry();
    if (!lib) throw method_library_error(path + ": " + NURBS_METHOD_ENTRY + "() gave no table");
    if (lib->abi_version != NURBS_METHOD_ABI_VERSION)
        throw method_library_error(
            path + ": built against version " + std::to_string(lib->abi_version) +
            " of the method interface (nurbs_method.h); this program takes version " +
            std::to_string(NURBS_METHOD_ABI_VERSION) + ": rebuild it against this one");
    if (lib->library_size != sizeof(nurbs_method_library) ||
        lib->method_size != sizeof(nurbs_method))
        throw method_library_error(
            path + ": its records are " + std::to_string(lib->library_size) + " and " +
            std::to_string(lib->method_size) + " bytes, those of version " +
            std::to_string(NURBS_METHOD_ABI_VERSION) + " of the method interface " +
            std::to_string(sizeof(nurbs_method_library)) + " and " +
            std::to_string(sizeof(nurbs_method)) +
            ": built against another nurbs_method.h; rebuild it against this one");
    if (lib->count == 0 || !lib->methods)
        throw method_library_error(path + ": its table holds no methods");
    if (lib->count > MAX_LOADED_METHODS - G_slot_count)
        throw method_library_error(path + ": " + std::to_string(lib->count) +
                                   " methods, more than the " + std::to_string(MAX_LOADED_METHODS) +
                                   " a program loads with those loaded before");
    return lib;
}

// Closes a library on the way out of a refusal.
struct library_handle {
    void *handle;
    ~library_handle() {
        if (handle) dlclose(handle);
    }
};

// Makes slot `s` the record of method `m` of the library `path`.
void fill_slot(loaded_slot &s, std::size_t k, const nurbs_method &m, const std::string &path) {
    const slot_calls &calls = SLOT_CALLS[k];
    s.desc = &m;
    s.library = path;
    compare_method &c = s.method;
    c.name = s.name.c_str();
    c.about = s.about.c_str();
    c.step = calls.step;
    c.start = m.start ? calls.start : nullptr;
    c.residual = m.residual ? s.residual.c_str() : nullptr;
    c.save = m.save ? calls.save : nullptr;
    c.restore = m.restore ? calls.restore : nullptr;
    c.table = m.uses_table != 0;
    c.state_size = m.state_size;
    c.corrector = m.last_corrector ? calls.corrector : nullptr;
    c.library = s.library.c_str();
}

// Makes an instance of the method of `s` for the run of `setup`.
void begin_instance(loaded_slot &s, const compare_setup &setup) {
    s.joint_u = setup.joints.u;
    const bool table = s.desc->uses_table != 0;
    s.view = {setup.curve,
              setup.curve_length,
              s.joint_u.data(),
              s.joint_u.size(),
              host_eval,
              host_arc_length,
              table ? (setup.fcp ? static_cast<const void *>(setup.fcp) : &BUILTIN_TABLE) : nullptr,
              table ? host_table_u : nullptr};
    s.instance = nullptr;
    if (s.desc->create) {
        marked_call mark(s, loaded_call::create);
        s.instance = s.desc->create(&s.view);
    }
    s.live = true;
}

void end_instance(loaded_slot &s) {
    s.live = false;
    if (s.desc->destroy) {
        marked_call mark(s, loaded_call::destroy);
        s.desc->destroy(s.instance);
    }
    s.instance = nullptr;
}

} // namespace

std::vector<const compare_method *> load_method_library(const std::string &path,
                                                        loaded_methods known) {
    if (const std::string e = unreadable_input(path, "method library"); !e.empty())
        throw method_library_error(e);
    // A library is mapped from a file: a FIFO or a device would block dlopen or feed it bytes
    // that are not one.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        throw method_library_error(path + ": not a regular file, so not a method library");
    // dlopen looks a name without a '/' up in the library path; this is a file's path.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    dlerror();
    library_handle lib{dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)};
    if (!lib.handle)
        throw method_library_error(path + ": cannot be loaded (" + std::string(dlerror()) + ")");
    for (const opened_library &o : G_opened)
        if (o.handle == lib.handle)
            throw method_library_error(path + ": the library " + o.path + " again");
    const nurbs_method_library *table = library_table(lib.handle, path);
    std::vector<loaded_slot> checked(table->count);
    for (std::size_t i = 0; i < table->count; ++i) {
        const nurbs_method &m = table->methods[i];
        const std::string problem = method_problem(m, checked[i]);
        const std::string which = path + ": method " + std::to_string(i + 1) +
                                  (checked[i].name.empty() ? "" : " (" + checked[i].name + ")");
        if (!problem.empty()) throw method_library_error(which + ": " + problem);
        const std::string &name = checked[i].name;
        if (const compare_method *other = find_compare_method(name, known))
            throw method_library_error(which + ": its name is that of " +
                                       (other->library
                                            ? "a method of " + std::string(other->library)
                                            : "the built-in method " + std::string(other->name)) +
                                       " (names are compared ignoring case)");
        for (std::size_t j = 0; j < i; ++j)
            if (strcasecmp(name.c_str(), checked[j].name.c_str()) == 0)
                throw method_library_error(path + ": two methods are named " + name);
    }
    std::vector<const compare_method *> out;
    for (std::size_t i = 0; i < table->count; ++i) {
        loaded_slot &s = G_slots[G_slot_count];
        s = std::move(checked[i]);
        fill_slot(s, G_slot_count++, table->methods[i], path);
        out.push_back(&s.method);
    }
    G_opened.push_back({lib.handle, path});
    lib.handle = nullptr; // kept open for the program's life
    return out;
}

std::string loaded_method_about(const compare_method &m) {
    return slot_of(m).about;
}

std::string loaded_methods_note(const std::vector<const compare_method *> &methods,
                                bool in_process) {
    std::string note;
    for (const compare_method *m : methods)
        if (m->library)
            note += std::string(note.empty() ? "loaded: " : "; ") + m->name + " of " + m->library +
                    " (" + slot_of(*m).about + ")";
    if (note.empty()) return "";
    return note + (in_process ? "; run in this process (--in-process): a crash in one ends the "
                                "program, its calls are not bounded in time"
                              : "; each run in a process of its own: a crash fails the method, "
                                "a call that has not returned after " +
                                    fmt("%g", LOADED_CALL_BOUND) + " s is stopped");
}

method_result run_loaded_method(const compare_method &m, const compare_setup &setup,
                                std::size_t samples, const std::function<method_result()> &run) {
    loaded_slot &s = slot_of(m);
    const auto with_instance = [&](call_watch *watch) {
        s.watch = watch;
        if (watch) {
            // The curve's scratch memory copied for the child before its first timed step.
            cart_point p, d1, d2, d3;
            nurbs_deBoor_eval(0.5, -1, setup.curve, &p, &d1, &d2, &d3);
        }
        begin_instance(s, setup);
        struct ender {
            loaded_slot &s;
            ~ender() {
                end_instance(s);
                s.watch = nullptr;
            }
        } end{s};
        return run();
    };
    if (setup.loaded_in_process) return with_instance(nullptr);
    contained_outcome o =
        run_contained(with_instance, contained_bounds{LOADED_CALL_BOUND, LOADED_SETUP_BOUND});
    if (o.ok) return std::move(o.result);
    method_result r = unrun_method(m, samples, o.failure);
    r.period = setup.period;
    r.policy = setup.policy;
    return r;
}

void set_loaded_integrand(arc_len_integrand f) {
    G_integrand = f ? f : nurbs_arc_len;
}

} // namespace nurbs_interp
