// A method's result as bytes, so that a run done in a child process (contained_run.hpp) comes
// back to the program whole: every member of method_result, bit for bit.
#pragma once

#include <string>
#include <string_view>

#include "compare/run.hpp"

namespace nurbs_interp {

// Returns r as bytes (native byte order and sizes: read back by the same program only).
std::string result_to_bytes(const method_result &r);

// Reads what result_to_bytes wrote into *r; false when the bytes are not a whole result (a
// process that ended while writing them).
bool result_from_bytes(std::string_view bytes, method_result *r);

} // namespace nurbs_interp
