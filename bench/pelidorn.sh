#!/usr/bin/env bash
# End-to-end benchmark of the stand-in host: reads a 24-megapixel RGB PNG (6000x4000, the
# sample scene resampled), blurs it at radius 5 and 50 and writes the PNG, timed by
# /usr/bin/time -v (wall-clock seconds and peak resident memory of the whole process).
#   bash bench/pelidorn.sh [BUILD_DIR]     (default build/release; needs bin/pelidorn)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
bin="$build/bin"
[ -x "$bin/pelidorn" ] || { echo "bench/pelidorn.sh: $bin/pelidorn is not built"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin/pelidorn_sample" "$work" --size 6000x4000
echo "input: 6000x4000 RGB 8-bit PNG ($(nproc) cores)"
printf '%-8s %10s %14s\n' radius seconds "peak MiB"
for r in 5 50; do
  /usr/bin/time -v "$bin/pelidorn" "$work/scene.png" "$work/out.png" "RADI=$r" --quiet 2>"$work/time.txt"
  secs=$(awk -F': ' '/Elapsed \(wall clock\)/ {n=split($2,a,":"); s=0; for(i=1;i<=n;i++) s=s*60+a[i]; print s}' "$work/time.txt")
  kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
  printf '%-8s %10.2f %14.0f\n' "$r" "$secs" "$((kb / 1024))"
done
