# Shared by the tests/tools/hostile_*.sh scripts (sourced, not run): the
# programs under test, a work folder, and `expect`, which runs a command under
# a timeout and checks its exit status and its one line on standard error.
# Every script gets BUILD_DIR and WORK_DIR and runs from the repository root.
set -u
build=$(cd "${1:?usage: SCRIPT BUILD_DIR WORK_DIR}" && pwd)
work=${2:?usage: SCRIPT BUILD_DIR WORK_DIR}
rm -rf "$work"; mkdir -p "$work"; work=$(cd "$work" && pwd)
root=$(pwd)
levelc=$build/tools/levelc leveldump=$build/tools/leveldump bitmapc=$build/tools/bitmapc
levelcheck=$build/tools/levelcheck record=$build/tools/polydrive-record soak=$build/tools/polydrive-soak
status=0
fail() { echo "FAIL: $*"; status=1; }

# expect CODE PATTERN command...: within 5 seconds, the exit status CODE ("!0"
# for any failure) and, on failure, exactly one line on standard error that
# matches PATTERN. Output in $work/out and $work/err.
expect() {
  local code=$1 pattern=$2; shift 2
  timeout -k 1 5 "$@" >"$work/out" 2>"$work/err"
  local got=$?
  if [ $got -eq 124 ] || [ $got -eq 137 ]; then
    fail "$* did not end within 5 seconds"
    return
  fi
  if [ "$code" = "!0" ]; then
    [ $got -ne 0 ] || fail "$* exited 0"
  else
    [ $got -eq "$code" ] || fail "$* exited $got, not $code: $(head -c 300 "$work/err")"
  fi
  if [ -n "$pattern" ] && ! grep -qE -- "$pattern" "$work/err"; then
    fail "$*: standard error lacks /$pattern/: $(head -c 300 "$work/err")"
  fi
  if [ "$code" != 0 ] && [ "$(wc -l <"$work/err")" -ne 1 ]; then
    fail "$*: the error is not one line: $(head -c 300 "$work/err")"
  fi
}

# expect_fatal PATTERN command...: within 5 seconds, exit status 1 and one
# line "Fatal error: ..." matching PATTERN on standard output, as the game's
# fatal_error prints it.
expect_fatal() {
  local pattern=$1; shift
  timeout -k 1 5 "$@" >"$work/out" 2>"$work/err"
  local got=$?
  [ $got -eq 1 ] || fail "$* exited $got, not 1: $(head -c 300 "$work/out" "$work/err")"
  grep -qE -- "^Fatal error: ($pattern)" "$work/out" || fail "$*: no fatal error /$pattern/: $(head -c 300 "$work/out")"
  [ "$(wc -l <"$work/out")" -eq 1 ] || fail "$*: the fatal error is not one line: $(head -c 300 "$work/out")"
}

# A copy of the shipped lib/ to spoil.
fresh_lib() {
  rm -rf "$1"; mkdir -p "$1/lib"; cp "$root"/lib/* "$1/lib/"
}
