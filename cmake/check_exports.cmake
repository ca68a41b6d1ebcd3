# cmake -DNM=<nm> -DLIBRARY=<file> -DALLOWED=<regex> -P check_exports.cmake
# Fails when the library's dynamic symbol table defines a name that does not
# start with ALLOWED (type info, vtables and thunks are judged by the class
# they belong to). This keeps each library's exports to its own interface: no
# template instances of the standard library or Boost, no symbol that another
# library supplies.
execute_process(COMMAND ${NM} -D --defined-only -C ${LIBRARY}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${symbols}")
set(bad "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>(<arguments>)": judge the name, not the arguments.
  if(NOT line MATCHES "^[0-9a-fA-F]+ [A-Za-z] ([^(]*)")
    continue()
  endif()
  string(REGEX REPLACE "^(typeinfo name for|typeinfo for|vtable for|VTT for|(non-)?virtual thunk to) "
                       "" name "${CMAKE_MATCH_1}")
  if(name MATCHES "^(_init|_fini)$")
    continue()
  endif()
  if(NOT name MATCHES "^(${ALLOWED})")
    list(APPEND bad "${line}")
  endif()
endforeach()
if(bad)
  list(JOIN bad "\n  " text)
  get_filename_component(file ${LIBRARY} NAME)
  message(FATAL_ERROR "${file} defines symbols outside its interface:\n  ${text}")
endif()
