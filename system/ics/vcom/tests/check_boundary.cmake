# Fails when libzeic_vcom.so defines a platform symbol, or exports a strong
# symbol outside its own namespace. Weak (W, V) symbols are template and
# inline instances of the standard library and Boost, merged at load time;
# __odr_asan symbols are AddressSanitizer's own.
execute_process(COMMAND ${NM} -D --defined-only -C ${LIBRARY}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${symbols}")
set(bad "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>(<arguments>)": judge the name, not the arguments.
  if(NOT line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) ([^(]*)")
    continue()
  endif()
  set(type "${CMAKE_MATCH_1}")
  set(name "${CMAKE_MATCH_2}")
  if(name MATCHES "QEL_|qorDebug|ConfigUtil|FlashEnv|HalCore|Registry|getZeHalCore|ltGuard")
    list(APPEND bad "${line}")
  elseif(type MATCHES "[TDRB]" AND NOT name MATCHES "ze::ic::|^_init$|^_fini$|^__odr_asan")
    list(APPEND bad "${line}")
  endif()
endforeach()
if(bad)
  list(JOIN bad "\n  " text)
  message(FATAL_ERROR "libzeic_vcom.so defines symbols it must not:\n  ${text}")
endif()
