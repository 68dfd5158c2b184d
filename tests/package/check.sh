# Sourced by the package tests: check DESCRIPTION COMMAND... runs the
# command, says PASS or FAIL (with the first lines of its output), and counts
# the failures in $failures. Needs $work, a scratch folder.
failures=0
check() {
  local what=$1
  shift
  if "$@" >"$work/out" 2>&1; then
    echo "PASS $what"
  else
    echo "FAIL $what"
    sed 's/^/    /' "$work/out" | head -20
    failures=$((failures + 1))
  fi
}
