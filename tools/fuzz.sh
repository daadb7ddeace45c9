#!/usr/bin/env bash
# Builds every libFuzzer target (each fuzz/fuzz_<name>.cpp, registered by
# fuzz/CMakeLists.txt) with clang under ASan+UBSan and runs each for
# SECONDS (default 60), starting from the minimised corpus kept in
# fuzz/corpus/<target>/ and the hand-made seeds in fuzz/seeds/<target>/; new
# inputs go to build-fuzz/corpus/<target>/. Findings are written to
# build-fuzz/findings/; keep them as regression inputs under tests/data/.
#   bash tools/fuzz.sh [SECONDS]
# After a long run, fold what it found into the kept corpus, minimised:
#   bash tools/fuzz.sh --merge
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
merge=""
if [ "$seconds" = --merge ]; then merge=1; seconds=0; fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPOLYDRIVE_FUZZ=ON -DPOLYDRIVE_SANITIZE=ON -DPOLYDRIVE_BENCH=OFF \
  -DPOLYDRIVE_WINDOW=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)"
mkdir -p build-fuzz/findings
status=0
for target in build-fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
  [ -d "fuzz/seeds/$name" ] && seeds+=("fuzz/seeds/$name")
  if [ -n "$merge" ]; then
    rm -rf "fuzz/corpus/$name.new"; mkdir -p "fuzz/corpus/$name.new"
    ASAN_OPTIONS=detect_leaks=0 "$target" -merge=1 "fuzz/corpus/$name.new" "${seeds[@]}" "$corpus" \
      > "build-fuzz/$name.merge.log" 2>&1 || { echo "fuzz: merging $name FAILED"; status=1; continue; }
    rm -rf "fuzz/corpus/$name"; mv "fuzz/corpus/$name.new" "fuzz/corpus/$name"
    echo "fuzz: $name: $(ls "fuzz/corpus/$name" | wc -l) inputs kept in fuzz/corpus/$name"
    continue
  fi
  echo "fuzz: $name for ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=0 "$target" -max_total_time="$seconds" -print_final_stats=1 \
       -artifact_prefix=build-fuzz/findings/"$name"- "$corpus" "${seeds[@]}" \
       > "build-fuzz/$name.log" 2>&1; then
    echo "fuzz: $name FAILED"; tail -n 40 "build-fuzz/$name.log"; status=1
  fi
  grep -E '^stat::number_of_executed_units' "build-fuzz/$name.log" | sed "s/^/fuzz: $name /" || true
done
exit $status
