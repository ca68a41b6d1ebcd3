# What readelf says about the shipped binaries: no RUNPATH element that means
# the current directory, the installed vcomctl bound to its own prefix, and
# in hardened builds full RELRO, BIND_NOW and the stack protector or
# _FORTIFY_SOURCE at work.
if(NOT BUILD_TESTING)
  return()
endif()
set(ze_shipped zeic_vcom zeplatform zeplatform_sim vcomctl)
set(ze_binaries "")
foreach(target IN LISTS ze_shipped)
  if(TARGET ${target})
    list(APPEND ze_binaries $<TARGET_FILE:${target}>)
  endif()
endforeach()
set(ze_check_elf ${PROJECT_SOURCE_DIR}/scripts/check-elf.sh)
add_test(NAME binaries_never_load_from_the_current_directory COMMAND ${ze_check_elf} ${ze_binaries})
if(TARGET vcomctl_installed)
  add_test(NAME installed_vcomctl_loads_from_its_own_prefix
           COMMAND ${ze_check_elf} --installed $<TARGET_FILE:vcomctl_installed>)
endif()
if(ZE_HARDEN)
  add_test(NAME binaries_are_hardened COMMAND ${ze_check_elf} --hardened ${ze_binaries})
endif()
