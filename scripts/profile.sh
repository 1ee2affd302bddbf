#!/usr/bin/env bash
# Counts what a load and a store cost the processor, per corpus, under cachegrind (this
# machine's counters are not open to perf): instructions per byte and per line, branch
# mispredictions per line, and first-level and last-level data cache misses per line (of
# the caches cachegrind simulates, which it takes from this processor).
# A store is measured as load-and-store less the load, since the store's child loads first.
# Usage: scripts/profile.sh [BENCH_PROGRAM] [CORPUS_DIR]   (the bench preset's by default;
# run scripts/bench.sh once first, which makes the corpora)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
ensure_packages valgrind
bench=${1:-build/bench/bench/ini_bench}
corpora=${2:-build/bench-corpora}

# Prints "instructions branch-mispredictions d1-misses ll-misses" for one child run.
counts() {
  valgrind --tool=cachegrind --cache-sim=yes --branch-sim=yes --cachegrind-out-file=/dev/null \
    "$bench" --child "$1" "$2" "$corpora/profile-out.ini" 1 2>&1 >/dev/null |
    awk '
      /I *refs:/ { gsub(",", "", $4); i = $4 }
      /D1  misses:/ { gsub(",", "", $4); d1 = $4 }
      /LLd misses:/ { gsub(",", "", $4); ll = $4 }
      /Mispredicts:/ { gsub(",", "", $3); mp = $3 }
      END { print i, mp, d1, ll }'
}

printf '%-14s %-5s %10s %9s %10s %10s %10s\n' corpus what "instr/B" "instr/ln" "mispr/ln" "D1 mis/ln" "LL mis/ln"
for corpus in typical one-value-16M sections-1M keys-1M; do
  file="$corpora/$corpus.ini"
  [ -f "$file" ] || continue
  bytes=$(stat -c %s "$file")
  lines=$(wc -l <"$file")
  read -r li lm ld1 lll < <(counts load:ours "$file")
  read -r si sm sd1 sll < <(counts store:ours "$file")
  for what in load store; do
    if [ "$what" = load ]; then set -- "$li" "$lm" "$ld1" "$lll"; else
      set -- $((si - li)) $((sm - lm)) $((sd1 - ld1)) $((sll - lll)); fi
    awk -v c="$corpus" -v w="$what" -v b="$bytes" -v l="$lines" -v i="$1" -v m="$2" -v d="$3" -v x="$4" \
      'BEGIN {
        if (l < 1000) {  # a corpus of a few long lines: per line says nothing
          printf "%-14s %-5s %10.2f %9s %10s %10s %10s\n", c, w, i / b, "-", "-", "-", "-"
        } else {
          printf "%-14s %-5s %10.2f %9.0f %10.3f %10.2f %10.2f\n", c, w, i / b, i / l, m / l, d / l, x / l
        }
      }'
  done
done
rm -f "$corpora/profile-out.ini"
