#!/bin/sh
# The native sanitizer build of the page counter and its fuzz targets.
#
#   run_fuzz.sh build BUILDDIR
#       configures (clang, ASan, UBSan, libFuzzer) and builds the targets
#   run_fuzz.sh run BUILDDIR LANGUAGE SECONDS CORPUSDIR...
#       runs fuzz_LANGUAGE for SECONDS, seeded from the files of that
#       language in the corpora's manifests, from seeds/LANGUAGE (small
#       hand-made files, and every earlier finding, named finding-*) and
#       from what earlier runs found new (kept in BUILDDIR/grown/LANGUAGE).
#       Exits non-zero on a finding, which is saved in BUILDDIR/findings:
#       add it to seeds/LANGUAGE once the counter is mended.
#
# Budgets: an input that takes more than 10 s or 2 GB is a finding too.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
what=${1:?usage: run_fuzz.sh build|run BUILDDIR ...}
build=${2:?usage: run_fuzz.sh build|run BUILDDIR ...}

if [ "$what" = build ]; then
  CXX=${CXX:-clang++} cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Debug >/dev/null
  exec cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)"
fi

language=${3:?language}
seconds=${4:?seconds}
shift 4
seeds=$build/seeds/$language
grown=$build/grown/$language
rm -rf "$seeds"
mkdir -p "$seeds" "$grown" "$build/findings"

# The manifest's name for each target's language; the whole-file target
# takes every language.
case $language in
  print_file) pattern='.' ;;
  pdf) pattern='^PDF$' ;; postscript) pattern='^PostScript$' ;;
  pcl5) pattern='^PCL5$' ;; pclxl) pattern='^PCLXL$' ;;
  xps) pattern='^XPS$' ;; text) pattern='^text$' ;; hpgl2) pattern='^HPGL2$' ;;
  *) echo "run_fuzz.sh: no target for $language" >&2; exit 2 ;;
esac
# Whole files up to 256 KB; of larger ones the first 64 KB, which still
# holds their headers and first pages (the fuzzer's inputs stay small).
# The whole-file target, seeded with every language, takes 64 KB at most,
# or its seconds go to running the seeds.
whole=262144
[ "$language" = print_file ] && whole=65536
for corpus in "$@"; do
  [ -f "$corpus/manifest.txt" ] || continue
  awk -v p="$pattern" '$2 ~ p { print $1 }' "$corpus/manifest.txt" | while read -r name; do
    [ -f "$corpus/$name" ] || continue
    target=$seeds/$(basename "$corpus")-$(echo "$name" | tr '/' '_')
    if [ "$(wc -c <"$corpus/$name")" -le "$whole" ]; then
      cp "$corpus/$name" "$target"
    else
      head -c 65536 "$corpus/$name" >"$target"
    fi
  done
done
if [ -d "$here/seeds/$language" ]; then cp "$here/seeds/$language"/* "$seeds"/; fi

"$build/fuzz_$language" -seed=1 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len="$whole" -print_final_stats=1 -artifact_prefix="$build/findings/$language-" \
  "$grown" "$seeds" 2>"$build/$language.log" || {
  tail -n 60 "$build/$language.log"
  exit 1
}
grep -E "stat::number_of_executed_units|stat::new_units_added|Done" "$build/$language.log" |
  sed "s/^/fuzz_$language: /"
