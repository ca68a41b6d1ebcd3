# Debian packages through CPack (`cpack --preset <preset>`, output in
# <build>/packages): one package per runtime library, the simulator's runtime
# and -dev pair, the -dev package and vcomctl. Dependencies on system
# libraries come from dpkg-shlibdeps, those between our packages from the
# components.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zeic-vcom)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${ZE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The revision names the base the packages are built on (ZE_PACKAGE_BASE), as
# backports do: 1.0.0-1~deb12, 1.0.0-1~deb13.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
if(ZE_PACKAGE_BASE)
  string(APPEND CPACK_DEBIAN_PACKAGE_RELEASE "~${ZE_PACKAGE_BASE}")
endif()
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Our own libraries are found in the build tree; their packages are named
# through the component dependencies below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

# The architecture of what the compiler builds, not of the build machine.
execute_process(COMMAND dpkg-architecture -t ${CMAKE_CXX_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
                OUTPUT_VARIABLE ZE_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(ZE_DEB_ARCH)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ZE_DEB_ARCH})
  # dpkg-shlibdeps looks for the target's libraries, not the build machine's.
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/cpack-project.cmake
       CONTENT "set(ENV{DEB_HOST_ARCH} ${ZE_DEB_ARCH})\n")
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack-project.cmake)
endif()

# Runtime library packages have the dynamic loader's cache refreshed through
# libc-bin's trigger.
configure_file(${PROJECT_SOURCE_DIR}/packaging/ldconfig.triggers
               ${PROJECT_BINARY_DIR}/packaging/triggers COPYONLY)

# ze_deb_component(<component> <package> <section> <summary> <line>...
#                  [DEPENDS <component>...] [REQUIRES <debian package>...] [LIBRARY])
# The lines of the long description stay under 80 characters.
function(ze_deb_component component package section summary)
  cmake_parse_arguments(PARSE_ARGV 4 arg "LIBRARY" "" "DEPENDS;REQUIRES")
  string(TOUPPER ${component} c)
  list(JOIN arg_UNPARSED_ARGUMENTS "\n" text)
  list(JOIN arg_REQUIRES ", " requires)
  set(CPACK_COMPONENT_${c}_DEPENDS ${arg_DEPENDS} PARENT_SCOPE)
  set(CPACK_DEBIAN_${c}_DESCRIPTION "${summary}\n${text}" PARENT_SCOPE)
  set(CPACK_DEBIAN_${c}_PACKAGE_NAME ${package} PARENT_SCOPE)
  set(CPACK_DEBIAN_${c}_PACKAGE_SECTION ${section} PARENT_SCOPE)
  set(CPACK_DEBIAN_${c}_PACKAGE_DEPENDS "${requires}" PARENT_SCOPE)
  if(arg_LIBRARY)
    set(CPACK_DEBIAN_${c}_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/triggers PARENT_SCOPE)
  endif()
endfunction()

ze_deb_component(platform libzeplatform${ZE_PLATFORM_SOVERSION} libs
  "TV platform layer for the VCOM driver"
  "HAL core and registry, board configuration, U-Boot environment store,"
  "debug output and the Linux SoC backend (i2c-dev, libgpiod)."
  LIBRARY)
ze_deb_component(vcom libzeic-vcom${ZE_VCOM_SOVERSION} libs
  "VCOM IC wrapper and driver for the TV platform's HAL"
  "Reads, updates and saves the LCD panel's VCOM through its VCOM chip on an"
  "I2C bus: AUO, KD532P, BOE, KD733, RT6966, G1625, IN525 or IN518."
  DEPENDS platform LIBRARY)
ze_deb_component(dev libzeic-vcom-dev libdevel
  "VCOM driver and TV platform layer: development files"
  "Headers, CMake package (find_package(zeic_vcom)) and pkg-config files"
  "(zeic_vcom, zeplatform) of libzeic_vcom and libzeplatform."
  DEPENDS vcom platform REQUIRES "libboost-dev (>= 1.74)")
set(CPACK_COMPONENTS_ALL vcom platform dev)
if(TARGET zeplatform_sim)
  ze_deb_component(sim libzeplatform-sim${ZE_SIM_SOVERSION} libs
    "Simulated board for the TV platform layer"
    "A simulated SoC with strict models of the VCOM chips, for rehearsals,"
    "tests and vcomctl --sim. Not for production images."
    DEPENDS platform LIBRARY)
  ze_deb_component(sim_dev libzeplatform-sim-dev libdevel
    "Simulated board for the TV platform layer: development files"
    "Headers, CMake targets (zeic_vcom::platform_sim) and the pkg-config"
    "file (zeplatform-sim) of libzeplatform-sim."
    DEPENDS sim dev)
  list(APPEND CPACK_COMPONENTS_ALL sim sim_dev)
endif()
if(TARGET vcomctl)
  ze_deb_component(tools vcomctl utils
    "Reads, updates and saves the panel's VCOM from the command line"
    "Brings the VCOM driver up as the HAL framework does and applies read,"
    "update, save and test-pattern commands, on the board or on a simulated"
    "panel."
    DEPENDS vcom platform sim)
  list(APPEND CPACK_COMPONENTS_ALL tools)
endif()

include(CPack)
