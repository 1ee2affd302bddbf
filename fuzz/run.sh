#!/usr/bin/env bash
# Runs each libFuzzer target of the fuzz preset, starting from the corpora in the repo, as
# many at a time as there are processors.
# Usage: fuzz/run.sh [SECONDS_PER_TARGET | -runs=N]   (default: 60 seconds each)
set -euo pipefail
cd "$(dirname "$0")/.."
limit=${1:-60}
case "$limit" in
  -runs=*) budget=("$limit") ;;
  *) budget=(-max_total_time="$limit") ;;
esac
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
work=build/fuzz/corpus-work

# Runs one target; its log and any finding stay in $work.
fuzz_target() {
  local target=$1 seeds=fuzz/corpus/reader
  [ "$target" = document ] && seeds=fuzz/corpus/document
  rm -rf "${work:?}/$target"
  mkdir -p "$work/$target"
  build/fuzz/fuzz/${target}_fuzz "${budget[@]}" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$work/$target-" "$work/$target" "$seeds" >"$work/$target.log" 2>&1
}

# As many targets at a time as there are processors; then each one's figures, in order.
targets=(reader grown_reader round_trip document)
pids=()
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
  fuzz_target "$target" &
  pids+=($!)
done
found=0
for i in "${!targets[@]}"; do
  target=${targets[$i]} status=0
  wait "${pids[$i]}" || status=$?
  echo "== $target"
  grep -E 'stat::number_of_executed_units|DONE' "$work/$target.log" || true
  if [ "$status" != 0 ]; then
    tail -40 "$work/$target.log" >&2
    echo "fuzz finding in $target (status $status)" >&2
    found=1
  fi
done
exit "$found"
