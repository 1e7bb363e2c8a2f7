#!/bin/sh
# help2man runs this as the program: it runs the built aikorvane-sim (through
# the emulator in a cross build), given as AIKORVANE_SIM_COMMAND. In
# --help-all, the positional arguments join the options, and each
# subcommand's block becomes one paragraph, "Subcommand NAME:" and its
# description, followed by its arguments and options, which help2man then
# sets like the main command's.
set -e
if [ "$1" != --help-all ]; then
  exec $AIKORVANE_SIM_COMMAND "$@"
fi
help=$($AIKORVANE_SIM_COMMAND --help-all)
printf '%s\n' "$help" | awk '
  /^Subcommands:$/ { subcommands = 1; next }
  !subcommands && /^Positionals:$/ { print "Options:"; positionals = 1; next }
  positionals && /^$/ { next }
  positionals && /^Options:$/ { positionals = 0; next }
  subcommands && /^[a-z][a-z0-9-]*$/ { print "Subcommand " $0 ":"; next }
  subcommands && /^  (Positionals|Options):$/ { next }
  subcommands { sub(/^  /, "") }
  { print }'
