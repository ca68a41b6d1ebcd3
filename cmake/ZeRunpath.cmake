# Runtime search paths. Installed binaries find the project's libraries
# relative to themselves ($ORIGIN), so any prefix works and no build path
# ships. No RUNPATH anywhere has an empty element, which the loader would read
# as the current directory.

# ze_library_runpath(<target>): a library finds its siblings in its own
# directory (libzeic_vcom its platform, libzeplatform the simulator it loads by
# name). The build tree has the installed layout and RUNPATH: every library in
# <build>/<libdir>, so no install-time rewrite pads the RUNPATH with empty
# elements, and a library finds its siblings there even when an executable
# linked --as-needed does not load them itself.
function(ze_library_runpath target)
  set_target_properties(${target} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR}
    BUILD_WITH_INSTALL_RPATH ON
    INSTALL_RPATH "$ORIGIN")
endfunction()

# ze_install_program(<target> <component>): installs a second link of the
# executable, made with its install RUNPATH ($ORIGIN/../<libdir>) in
# <build>/<bindir>, where it runs as installed. The build tree's own binary
# keeps its absolute build-tree RUNPATH and is never rewritten.
function(ze_install_program target component)
  get_target_property(source_dir ${target} SOURCE_DIR)
  get_target_property(sources ${target} SOURCES)
  list(TRANSFORM sources PREPEND ${source_dir}/ REGEX "^[^/$]")
  set(installed ${target}_installed)
  add_executable(${installed} ${sources})
  foreach(property LINK_LIBRARIES COMPILE_DEFINITIONS INCLUDE_DIRECTORIES COMPILE_OPTIONS)
    get_target_property(value ${target} ${property})
    if(value)
      set_property(TARGET ${installed} PROPERTY ${property} ${value})
    endif()
  endforeach()
  set_target_properties(${installed} PROPERTIES
    OUTPUT_NAME ${target}
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_BINDIR}
    BUILD_WITH_INSTALL_RPATH ON
    INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS ${installed} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
endfunction()
