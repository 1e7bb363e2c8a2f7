# Build options shared by every target of the project. Targets link
# aikorvane_options instead of the project setting global flags.

option(AIKORVANE_BUILD_TESTS "Build the test suite" ON)
option(AIKORVANE_BUILD_SIM "Build the simulated host" ON)
option(AIKORVANE_BUILD_BENCH "Build the benchmarks" OFF)
set(AIKORVANE_SANITIZE "" CACHE STRING
    "Sanitizers to build with, e.g. address,undefined or thread (empty: none)")

add_library(aikorvane_options INTERFACE)
target_compile_features(aikorvane_options INTERFACE cxx_std_17)
# Float arithmetic of the conversion, calibration and report triggers must give
# the same single-precision results on x86-64 and on the Arm controllers, so no
# fused multiply-add contraction.
target_compile_options(aikorvane_options INTERFACE -Wall -Wextra -ffp-contract=off)
if(AIKORVANE_SANITIZE)
  target_compile_options(aikorvane_options INTERFACE
      -fsanitize=${AIKORVANE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(aikorvane_options INTERFACE -fsanitize=${AIKORVANE_SANITIZE})
endif()

# Release builds (and so the packages) get the hardening Debian gives its own
# packages: checked libc buffer calls, stack protector, relocations resolved
# and made read-only at load time. Hosts load the plug-in with RTLD_NOW
# already, so binding at load changes nothing they see. Not in sanitizer
# builds, which check more on their own, nor in unoptimised builds, where
# the libc checks do not work.
option(AIKORVANE_HARDEN "Harden optimised builds (fortify, stack protector, full RELRO)" ON)
if(AIKORVANE_HARDEN AND NOT AIKORVANE_SANITIZE)
  set(aikorvane_optimised $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
  target_compile_definitions(aikorvane_options INTERFACE $<${aikorvane_optimised}:_FORTIFY_SOURCE=2>)
  target_compile_options(aikorvane_options INTERFACE
      $<${aikorvane_optimised}:-fstack-protector-strong>)
  target_link_options(aikorvane_options INTERFACE $<${aikorvane_optimised}:LINKER:-z,relro,-z,now>)
endif()
