# nurbs_interp_add_method(NAME SOURCE...): builds a method library for interp_compare and
# interp_suite (--method-lib build/lib<NAME>.so) from the sources, which include
# "nurbs_method.h" and define the entry point with NURBS_METHOD_LIBRARY. A shared module that
# exports only its entry point; compiled with -ffp-contract=off (GCC, Clang), as the programs
# are, so that its arithmetic is evaluated as written; C++ sources at C++20 at the least.
function(nurbs_interp_add_method name)
  if(NOT ARGN)
    message(FATAL_ERROR "nurbs_interp_add_method(${name}): no source files")
  endif()
  add_library(${name} MODULE ${ARGN})
  target_link_libraries(${name} PRIVATE nurbs_interp::method)
  set_target_properties(${name} PROPERTIES C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden)
  # A method's table is written with designated initializers that leave its optional members
  # out; GCC's -Wextra would warn about each of them in C++.
  target_compile_options(${name} PRIVATE
    $<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>:-ffp-contract=off>
    $<$<COMPILE_LANG_AND_ID:C,GNU,Clang>:-ffp-contract=off>
    $<$<COMPILE_LANG_AND_ID:CXX,GNU>:-Wno-missing-field-initializers>)
  get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
  if("CXX" IN_LIST languages)
    target_compile_features(${name} PRIVATE cxx_std_20)
  endif()
endfunction()
