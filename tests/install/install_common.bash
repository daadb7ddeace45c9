# Shared by the tests/install/*.sh scripts (sourced, not run): the build and
# source folders, a scratch folder outside the build tree (so an installed
# program never takes the build tree for its own), and checks that count
# failures instead of stopping at the first. The caller sets `name` and
# passes the build folder as $1 and the project version as $2.
set -u
build=$(cd "${1:?usage: bash tests/install/$name.sh BUILD_DIR VERSION}" && pwd)
version=${2:?usage: bash tests/install/$name.sh BUILD_DIR VERSION}
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d /tmp/polydrive-install.XXXXXX)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
unset POLYDRIVE_DATA
status=0

fail() {
    echo "$name: FAIL: $*" >&2
    status=1
}
# Ends the script at once: what follows needs what failed.
stop() {
    echo "$name: $*" >&2
    exit 1
}
need() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null || stop "$tool is not installed"
    done
}

# cmake --install of the build into prefix $1.
install_to() {
    cmake --install "$build" --prefix "$1" >"$work/install.log" 2>&1 ||
        stop "cmake --install failed: $(cat "$work/install.log")"
}

# expect CODE STREAM PATTERN command...: the command's exit status is CODE
# and a line of STREAM (out or err) matches the extended regex PATTERN; a
# failure (CODE 1) says it in exactly one line on that stream.
expect() {
    local code=$1 stream=$2 pattern=$3
    shift 3
    timeout 60 "$@" >"$work/out" 2>"$work/err"
    local got=$?
    [ "$got" -eq "$code" ] || fail "$* exited $got, not $code: $(cat "$work/out" "$work/err")"
    if [ -n "$pattern" ] && ! grep -qE -- "$pattern" "$work/$stream"; then
        fail "$*: std$stream lacks /$pattern/: $(cat "$work/$stream")"
    fi
    if [ "$code" -eq 1 ] && [ "$(wc -l <"$work/$stream")" -ne 1 ]; then
        fail "$*: the error is not one line: $(cat "$work/$stream")"
    fi
}
