# ze_export_only(<target> [C <glob>...] [CXX <glob>...]): the shared library's
# dynamic symbol table holds the C names and the demangled C++ names matching
# the globs (a class's type info, vtable and thunks with it), nothing else.
# Template instances of the standard library and Boost stay inside, so a
# consumer never binds to ours.
set(ZE_CXX_SYMBOL_KINDS "" "typeinfo?for?" "typeinfo?name?for?" "vtable?for?" "VTT?for?"
    "virtual?thunk?to?" "non-virtual?thunk?to?")

function(ze_export_only target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "C;CXX")
  set(globals "")
  foreach(name IN LISTS arg_C)
    string(APPEND globals "    ${name};\n")
  endforeach()
  string(APPEND globals "    extern \"C++\" {\n")
  foreach(glob IN LISTS arg_CXX)
    foreach(kind IN LISTS ZE_CXX_SYMBOL_KINDS)
      string(APPEND globals "      ${kind}${glob};\n")
    endforeach()
  endforeach()
  string(APPEND globals "    };\n")
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  file(GENERATE OUTPUT ${map} CONTENT "{\n  global:\n${globals}  local:\n    *;\n};\n")
  target_link_options(${target} PRIVATE LINKER:--version-script=${map})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
endfunction()
