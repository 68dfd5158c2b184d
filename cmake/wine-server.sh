#!/bin/bash
# The Wine server of the headless tests' prefix, around a test run:
#   cmake/wine-server.sh start PROGRAM.exe   boot the prefix (made on first use)
#                                            and keep its server and Wine's own
#                                            services running, however long
#                                            no test program runs
#   cmake/wine-server.sh stop PROGRAM.exe    end them
# Without it every short test program that finds no other one running starts
# the server and services again, and may start while they are shutting down;
# with it no test program ever starts beside Wine's start-up or shut-down.
# PROGRAM picks the prefix and loader (a 32-bit program has its own).
set -u
. "$(dirname "$0")/wine-env.sh" "$2"
export DISPLAY=
server=$(command -v wineserver || echo /usr/lib/wine/wineserver)
case $1 in
  start)
    # Persistent until killed; where a server of the prefix runs already
    # (another test run), it is used as it is. Output to /dev/null: a process
    # holding the test's output open would keep CTest waiting for it.
    "$server" -p </dev/null >/dev/null 2>&1
    "$wine" wineboot </dev/null >/dev/null 2>&1 ;;
  stop)
    "$server" -k 2>/dev/null
    "$server" -w 2>/dev/null
    exit 0 ;;
  *) echo "usage: $0 start|stop PROGRAM.exe" >&2; exit 2 ;;
esac
