# What `cmake --install` and the packages ship: the runtime libraries, their
# public headers, a CMake package (find_package(zeic_vcom)) and a pkg-config
# file per library. Components: vcom, platform, sim (runtime libraries), dev,
# sim_dev (headers, link names, CMake and pkg-config files), tools (vcomctl).
include(CMakePackageConfigHelpers)

set(ZE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zeic_vcom)
set(ZE_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(ZE_VCOM_SOURCE_DIR ${PROJECT_SOURCE_DIR}/system/ics/vcom)
set(ZE_PLATFORM_INCLUDE_DIR ${PROJECT_SOURCE_DIR}/platform/include)

function(ze_install_library target component export_set namelink_component)
  ze_library_runpath(${target})
  install(TARGETS ${target} EXPORT ${export_set}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
      COMPONENT ${component} NAMELINK_COMPONENT ${namelink_component})
endfunction()

ze_install_library(zeic_vcom vcom zeic_vcom-targets dev)
ze_install_library(zeplatform platform zeic_vcom-targets dev)
install(TARGETS zeic_vcom_catalogue EXPORT zeic_vcom-targets)

get_target_property(ze_vcom_headers zeic_vcom ZE_PUBLIC_HEADERS)
foreach(header IN LISTS ze_vcom_headers)
  get_filename_component(dir ${header} DIRECTORY)
  install(FILES ${ZE_VCOM_SOURCE_DIR}/src/${header}
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zeic_vcom/${dir} COMPONENT dev)
endforeach()
install(DIRECTORY ${ZE_VCOM_SOURCE_DIR}/catalogue/
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zeic_vcom COMPONENT dev)
get_target_property(ze_chip_headers zeic_vcom_catalogue ZE_CHIP_HEADERS)
get_target_property(ze_chip_list zeic_vcom_catalogue ZE_CHIP_LIST)
install(FILES ${ze_chip_list} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zeic_vcom/ze/ic COMPONENT dev)
install(FILES ${ze_chip_headers}
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zeic_vcom/ze/ic/chips COMPONENT dev)
install(DIRECTORY ${ZE_PLATFORM_INCLUDE_DIR}/
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zeplatform COMPONENT dev)
install(EXPORT zeic_vcom-targets NAMESPACE zeic_vcom:: DESTINATION ${ZE_CMAKE_DIR} COMPONENT dev)

if(TARGET zeplatform_sim)
  ze_install_library(zeplatform_sim sim zeic_vcom-sim-targets sim_dev)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/sim/include/
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zeplatform-sim COMPONENT sim_dev)
  install(EXPORT zeic_vcom-sim-targets NAMESPACE zeic_vcom::
          DESTINATION ${ZE_CMAKE_DIR} COMPONENT sim_dev)
endif()

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zeic_vcom-config.cmake.in
  ${PROJECT_BINARY_DIR}/zeic_vcom-config.cmake INSTALL_DESTINATION ${ZE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zeic_vcom-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zeic_vcom-config.cmake
              ${PROJECT_BINARY_DIR}/zeic_vcom-config-version.cmake
        DESTINATION ${ZE_CMAKE_DIR} COMPONENT dev)

# pkg-config files locate the prefix from their own place, so a staged or
# relocated install works as well as /usr.
file(RELATIVE_PATH ZE_PC_PREFIX /${ZE_PKGCONFIG_DIR} /)
string(REGEX REPLACE "/$" "" ZE_PC_PREFIX "${ZE_PC_PREFIX}")
function(ze_pkg_config name component description library requires include_subdir)
  set(ZE_PC_NAME ${name})
  set(ZE_PC_DESCRIPTION ${description})
  set(ZE_PC_LIBRARY ${library})
  set(ZE_PC_REQUIRES ${requires})
  set(ZE_PC_INCLUDE_SUBDIR ${include_subdir})
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/library.pc.in
                 ${PROJECT_BINARY_DIR}/pkgconfig/${name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${name}.pc
          DESTINATION ${ZE_PKGCONFIG_DIR} COMPONENT ${component})
endfunction()

ze_pkg_config(zeplatform dev "TV platform layer: HAL core, SoC interface, config and environment store"
              zeplatform "" zeplatform)
ze_pkg_config(zeic_vcom dev "VCOM IC wrapper and driver of the TV platform's HAL"
              zeic_vcom zeplatform zeic_vcom)
if(TARGET zeplatform_sim)
  ze_pkg_config(zeplatform-sim sim_dev "Simulated board and VCOM chip models for the TV platform"
                zeplatform-sim zeplatform zeplatform-sim)
endif()
