// Methods loaded at run time: a shared library written against nurbs_method.h (installed with
// the core) is opened, checked and its methods registered beside the built-in ones, each as a
// compare_method that the comparison runs like any other. A loaded method's calls go through a
// slot of this module, which holds its instance (the context its calls are handed), the curve
// it runs on and the watch of the process it runs in; its run and replay take place in a child
// process of its own (contained_run.hpp) unless the setup says otherwise.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "compare/methods.hpp"
#include "compare/run.hpp"

namespace nurbs_interp {

// The most methods one program loads, from all its libraries.
inline constexpr std::size_t MAX_LOADED_METHODS = 32;
// The most state a loaded method saves per step, bytes.
inline constexpr std::size_t MAX_LOADED_STATE = 1024;
// The longest one call of a loaded method (its step, start, save, restore, last_corrector) may
// take, s of wall time: a step that takes 4000 servo periods has hung, and a busy machine does
// not delay a call by that much. Its create and destroy (untimed precomputation) may take
// LOADED_SETUP_BOUND.
inline constexpr double LOADED_CALL_BOUND = 1.0;
inline constexpr double LOADED_SETUP_BOUND = 60.0;

// A library refused: "<path>: <why>".
struct method_library_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Opens the method library at `path`, checks it (the entry point, the interface's version and
// layout, every method's name and members) and registers its methods; returns them in the
// library's order. `known`: the methods loaded before it (a name that is another method's,
// built-in or loaded, is refused, ignoring case). Throws method_library_error naming the file
// and the reason; nothing of a refused library is registered.
std::vector<const compare_method *> load_method_library(const std::string &path,
                                                        loaded_methods known);

// Returns the line a loaded method gives about itself.
std::string loaded_method_about(const compare_method &m);

// Returns what the lines above a table say about the loaded methods among `methods` (each one's
// name, library and about, and how they run: in a process of their own, or in this one when
// `in_process`); "" when there is none.
std::string loaded_methods_note(const std::vector<const compare_method *> &methods,
                                bool in_process);

// Runs `run` (the run and replay of the loaded method `m`, `samples` samples long) with a fresh
// instance of the method made for the setup's curve and destroyed after it, and returns its
// result. In a child process unless setup.loaded_in_process: there a call of the method that
// has not returned after LOADED_CALL_BOUND is stopped, and a crash or an exit of the process
// fails the method with the reason (which call, from where) instead of ending the program.
method_result run_loaded_method(const compare_method &m, const compare_setup &setup,
                                std::size_t samples, const std::function<method_result()> &run);

// Sets the integrand with which a loaded method's arc_length routine measures (null:
// nurbs_arc_len), for a wrapper that counts calls, as the interpolators' own.
void set_loaded_integrand(arc_len_integrand f);

} // namespace nurbs_interp
