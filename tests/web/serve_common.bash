# Sourced by the page's test and measurement scripts: a scratch folder $tmp,
# removed at exit, and serve_pages, which starts tests/web/serve.py on the
# loopback address and sets $port once it listens. The server is stopped at
# exit, and its end (by our signal) is not the script's exit status.
tmp=$(mktemp -d)
server=
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null; wait "$server" 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT

# serve_pages WEB_BUILD_DIR [SERVER_OPTION...]
serve_pages() {
  : >"$tmp/server.log"   # read below before the server may have started
  python3 -u "$(dirname "${BASH_SOURCE[0]}")/serve.py" "$@" >"$tmp/server.log" 2>&1 &
  server=$!
  port=
  for _ in $(seq 100); do
    port=$(sed -n 's/^port \([0-9]*\)$/\1/p' "$tmp/server.log" | head -n 1)
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  echo "web: the server did not start: $(cat "$tmp/server.log")" >&2
  exit 1
}
