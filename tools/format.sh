#!/usr/bin/env bash
# Formats every C++ file git tracks with clang-format and the .clang-format
# files of the tree. With --check it changes nothing: it names each file that
# differs from its formatted self, one line each, and exits 1 if any does.
set -euo pipefail
cd "$(dirname "$0")/.."

check=0
case "${1:-}" in
  --check) check=1 ;;
  '') ;;
  *) echo "format.sh: unknown option '$1' (use --check or nothing)" >&2; exit 2 ;;
esac

# The version is pinned: another clang-format lays some lines out differently.
formatter=
for f in clang-format-14 clang-format; do
  if command -v "$f" >/dev/null && "$f" --version | grep -q 'version 14\.'; then formatter=$f; break; fi
done
if [ -z "$formatter" ]; then
  echo "format.sh: clang-format 14 not found (bash tools/setup.sh installs it)" >&2
  exit 2
fi

mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.h')
[ ${#files[@]} -eq 0 ] && { echo "format.sh: git lists no C++ files" >&2; exit 2; }

if [ "$check" -eq 0 ]; then
  printf '%s\0' "${files[@]}" | xargs -0 -n 20 "$formatter" -i
  exit 0
fi

status=0
for f in "${files[@]}"; do
  if ! "$formatter" "$f" | cmp -s - "$f"; then
    echo "format.sh: $f differs from its clang-format layout (bash tools/format.sh rewrites it)"
    status=1
  fi
done
exit $status
