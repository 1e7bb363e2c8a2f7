# The manual page aikorvane-sim(1): help2man makes it from the command's own
# --help-all (every option of every subcommand) and --version, and adds the
# hand-written sections of docs/aikorvane-sim.h2m. It is remade whenever the
# command is relinked, so it says what the built command takes.
# Sets AIKORVANE_MAN_PAGE to the compressed page when it is built.
unset(AIKORVANE_MAN_PAGE)
if(NOT TARGET aikorvane-sim)
  return()
endif()
find_program(AIKORVANE_HELP2MAN help2man)
if(NOT AIKORVANE_HELP2MAN)
  message(WARNING "help2man not found (Debian package help2man): no manual page")
  return()
endif()
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(STATUS "No emulator for the target's programs: the manual page is not built")
  return()
endif()

set(man_page ${PROJECT_BINARY_DIR}/man/aikorvane-sim.1)
list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " man_emulator)
add_custom_command(OUTPUT ${man_page}.gz
    COMMAND ${CMAKE_COMMAND} -E env
        "AIKORVANE_SIM_COMMAND=${man_emulator} $<TARGET_FILE:aikorvane-sim>"
        ${AIKORVANE_HELP2MAN} --no-info --help-option=--help-all --version-option=--version
        --include=${PROJECT_SOURCE_DIR}/docs/aikorvane-sim.h2m --output=${man_page}
        ${PROJECT_SOURCE_DIR}/cmake/help2man-sim.sh
    # Debian wants pages compressed at the highest level, without a timestamp.
    COMMAND gzip -9nf ${man_page}
    DEPENDS aikorvane-sim ${PROJECT_SOURCE_DIR}/docs/aikorvane-sim.h2m
        ${PROJECT_SOURCE_DIR}/cmake/help2man-sim.sh
    COMMENT "Writing the manual page aikorvane-sim(1)" VERBATIM)
add_custom_target(aikorvane-sim-man ALL DEPENDS ${man_page}.gz)
set(AIKORVANE_MAN_PAGE ${man_page}.gz)
