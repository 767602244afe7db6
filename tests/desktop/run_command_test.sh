#!/usr/bin/env bash
# The run command's walk-through on a machine without a desktop, in each language of lang.ini: it
# finds the program's windows whatever language the program chose, and every run ends with its
# summary and its screenshots' folder, each step having worked.
#   run_command_test.sh BUILD-DIR SOURCE-DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
# The walk-through checks the script and the program's windows, not the build's flags: it builds
# the program its own way once, in the plain build's run of the tests.
if grep -q '^CMAKE_CXX_FLAGS:STRING=.*-fsanitize' "$build/CMakeCache.txt"; then
  echo "skipped: the run command is walked through in the plain build's tests"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for locale in en_US.UTF-8 zh_TW.UTF-8 zh_CN.UTF-8 de_DE.UTF-8; do
  home=$work/$locale
  mkdir -p "$home"
  status=0
  # One state folder for all: the build's settings path is in it, so the program is built once (each
  # run starts from no settings and no database all the same).
  env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_STATE_HOME="$work/state" LANG="$locale" LC_ALL="$locale" \
    HOSTWARDEN_RUN_BUILD_DIR="$build/run-command" bash "$source/scripts/run.sh" >"$home/output" 2>&1 || status=$?
  if [ "$status" != 0 ] || ! grep -q '^Screenshots: ' "$home/output" || grep -q '^FAILED' "$home/output" ||
     ! grep -q '^worked:  the registration succeeded' "$home/output"; then
    echo "FAILED in $locale (exit $status):"
    tail -n 25 "$home/output"
    failed=1
  else
    echo "ok: $locale: $(grep -c '^worked: ' "$home/output") steps worked"
  fi
done
exit $failed
