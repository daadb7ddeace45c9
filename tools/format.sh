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

# The files git tracks; outside a git checkout (an unpacked source archive),
# the C++ files of the source folders.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.h')
else
  mapfile -d '' files < <(find base platform res scene render frame tools tests bench fuzz \
    -type f \( -name '*.cpp' -o -name '*.h' \) -print0 2>/dev/null | sort -z)
fi
[ ${#files[@]} -eq 0 ] && { echo "format.sh: no C++ files found" >&2; exit 2; }

if [ "$check" -eq 0 ]; then
  printf '%s\0' "${files[@]}" | xargs -0 -n 20 "$formatter" -i
  exit 0
fi

# One clang-format run over all files; it reports each file's first
# difference as "FILE:LINE:COL: error: code should be clang-formatted".
report=$("$formatter" --dry-run --Werror --ferror-limit=1 "${files[@]}" 2>&1 >/dev/null) && exit 0
differing=$(printf '%s\n' "$report" | sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' | sort -u)
if [ -z "$differing" ]; then
  printf '%s\n' "$report" | head -n 4 >&2 || true
  echo "format.sh: clang-format failed" >&2
  exit 2
fi
while IFS= read -r f; do
  echo "format.sh: $f differs from its clang-format layout (bash tools/format.sh rewrites it)"
done <<<"$differing"
exit 1
