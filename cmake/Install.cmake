# Install rules and Debian packages.
#
# Two packages, so that a controller takes only what its host loads:
#   aikorvane      the plug-in (and the documentation); it needs nothing but the
#                  C and C++ runtime, since jsoncpp, libcurl and the framework
#                  come from the host process that loads it;
#   aikorvane-sim  the simulated host command and the example scenarios; it
#                  needs the plug-in package and the simulator's own libraries.
# The simulator finds its plug-in and examples relative to its own binary, so
# the tree works under any prefix (or unpacked into a scratch root).
include(GNUInstallDirs)

install(TARGETS aikorvane
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/aikorvane COMPONENT plugin NAMELINK_SKIP)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT plugin)
if(EXISTS ${PROJECT_SOURCE_DIR}/docs)
  # The manual page's hand-written sections are a build input, not a document.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
      COMPONENT plugin PATTERN "*.h2m" EXCLUDE)
endif()

set(aikorvane_package_components plugin)
if(TARGET aikorvane-sim)
  install(TARGETS aikorvane-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sim)
  if(EXISTS ${PROJECT_SOURCE_DIR}/examples)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/aikorvane/examples COMPONENT sim)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/aikorvane-sim.lintian-overrides
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME aikorvane-sim
      COMPONENT sim)
  if(AIKORVANE_MAN_PAGE)
    install(FILES ${AIKORVANE_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT sim)
  endif()
  list(APPEND aikorvane_package_components sim)
endif()

# Every package carries the copyright file and the changelog in its own
# documentation folder, as Debian requires. One changelog serves both: they
# come from one source tree at one version.
set(aikorvane_changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${aikorvane_changelog}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/changelog
        ${PROJECT_BINARY_DIR}/packaging/changelog
    COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/packaging/changelog
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(aikorvane_changelog ALL DEPENDS ${aikorvane_changelog})
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog aikorvane_changelog_top LIMIT_COUNT 1)
if(NOT aikorvane_changelog_top MATCHES "^aikorvane \\(${PROJECT_VERSION}\\) ")
  message(WARNING "packaging/changelog has no entry for version ${PROJECT_VERSION} at its top")
endif()
foreach(component IN LISTS aikorvane_package_components)
  set(package_name aikorvane)
  if(component STREQUAL "sim")
    set(package_name aikorvane-sim)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${aikorvane_changelog}
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package_name} COMPONENT ${component})
endforeach()

# Debian architecture of the target (a cross build packages for its target).
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
  set(aikorvane_deb_arch arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(aikorvane_deb_arch amd64)
else()
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE aikorvane_deb_arch
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME aikorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "aikorvane")
set(CPACK_PACKAGE_CONTACT "aikorvane maintainers <maintainers@aikorvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Folders 0755 whatever the umask of the machine that packs.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_COMPONENTS_ALL ${aikorvane_package_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${aikorvane_deb_arch})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Runtime dependencies from the binaries' NEEDED lists (dpkg-shlibdeps), and
# the simulator's dependency on the plug-in package from the component graph.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_NAME aikorvane)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_SIM_PACKAGE_NAME aikorvane-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION utils)
# CPack's dependency scan takes every shared object below /usr/lib for a
# library of the dynamic linker's path and adds ldconfig calls to the
# package's scripts. The plug-in lives in a private folder the linker never
# searches, so its package skips the scan; CPackProjectConfig.cmake asks
# dpkg-shlibdeps for its dependencies instead.
set(CPACK_DEBIAN_PLUGIN_PACKAGE_SHLIBDEPS OFF)
# First line: the synopsis; then the long description (Debian keeps lines
# within 80 columns).
set(CPACK_DEBIAN_PLUGIN_DESCRIPTION [[analog-input voltage device plug-in for the monitoring host
aikorvane.so is a plug-in device driver for the power-plant monitoring host
of telecom equipment sites. The host loads it at run time and drives one
analog-input voltage device per configured input: each sample becomes a
calibrated voltage in a data record, published values, battery voltage
alarms, limit tables with hysteresis, change-based analog reports and
battery discharge reports posted to the controller's local web service.

The plug-in takes jsoncpp, libcurl and the framework from the host process
that loads it, so it needs nothing but the C and C++ runtime. The
configuration reference for site engineers is in /usr/share/doc/aikorvane.]])
set(CPACK_DEBIAN_SIM_DESCRIPTION [[simulated monitoring host for the aikorvane plug-in
aikorvane-sim loads the real aikorvane.so the way the monitoring host does,
configures one device from a JSON settings file and replays a trace of
samples through it. It shows everything the device did: an event log as
JSON Lines, a summary of the alarms raised and cleared and of the reports
sent, and an optional SVG plot; a built-in receiver takes the discharge
reports. It also checks site settings before deployment and runs site test
files of expected alarms and reports.

Example scenarios for each operating mode are included.]])
# Read by cpack at packing time (it sets what only packing can know).
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
configure_file(${CMAKE_CURRENT_LIST_DIR}/CPackProjectConfig.cmake.in
    ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake.gen @ONLY)
file(GENERATE OUTPUT ${CPACK_PROJECT_CONFIG_FILE}
    INPUT ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake.gen)

include(CPack)

cpack_add_component(plugin DISPLAY_NAME "Plug-in"
    DESCRIPTION "aikorvane.so, the analog-input voltage device a monitoring host loads")
if(TARGET aikorvane-sim)
  cpack_add_component(sim DISPLAY_NAME "Simulated host" DEPENDS plugin
      DESCRIPTION "aikorvane-sim, a simulated monitoring host that loads the plug-in and replays sample traces, with example scenarios")
endif()
