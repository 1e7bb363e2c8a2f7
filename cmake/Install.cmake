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
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
      COMPONENT plugin)
endif()

set(aikorvane_package_components plugin)
if(TARGET aikorvane-sim)
  install(TARGETS aikorvane-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sim)
  if(EXISTS ${PROJECT_SOURCE_DIR}/examples)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/aikorvane/examples COMPONENT sim)
  endif()
  list(APPEND aikorvane_package_components sim)
endif()

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
set(CPACK_PACKAGE_VENDOR "aikorvane")
set(CPACK_PACKAGE_CONTACT "aikorvane maintainers <maintainers@aikorvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${aikorvane_package_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${aikorvane_deb_arch})
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# Runtime dependencies from the binaries' NEEDED lists (dpkg-shlibdeps), and
# the simulator's dependency on the plug-in package from the component graph.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_NAME aikorvane)
set(CPACK_DEBIAN_SIM_PACKAGE_NAME aikorvane-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION utils)
# dpkg-shlibdeps resolves the libraries of the package's architecture, which in
# a cross build is not the build machine's.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "set(ENV{DEB_HOST_ARCH} \"${aikorvane_deb_arch}\")\n")

include(CPack)

cpack_add_component(plugin DISPLAY_NAME "Plug-in"
    DESCRIPTION "aikorvane.so, the analog-input voltage device a monitoring host loads")
if(TARGET aikorvane-sim)
  cpack_add_component(sim DISPLAY_NAME "Simulated host" DEPENDS plugin
      DESCRIPTION "aikorvane-sim, a simulated monitoring host that loads the plug-in and replays sample traces, with example scenarios")
endif()
