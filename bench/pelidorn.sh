#!/usr/bin/env bash
# End-to-end benchmark of the stand-in host beside Debian's gegl lens blur: a 24-megapixel
# RGB PNG (6000x4000, the sample scene resampled, with grain) is blurred at RADI 0, 5 and 50 and written
# as PNG; gegl blurs the same file at the same radius in pixels (RADI x diagonal / 800).
# Each run is timed by /usr/bin/time -v (wall-clock seconds and peak resident memory).
#   bash bench/pelidorn.sh [BUILD_DIR]     (default build/release; needs bin/pelidorn)
# Installs gegl and time with apt-get when missing (through sudo when not root).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
bin="$build/bin"
[ -x "$bin/pelidorn" ] || { echo "bench/pelidorn.sh: $bin/pelidorn is not built"; exit 1; }
missing=""
command -v gegl >/dev/null || missing="$missing gegl"
[ -x /usr/bin/time ] || missing="$missing time"
if [ -n "$missing" ]; then
  sudo=""; [ "$(id -u)" = 0 ] || sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get install -y -q --no-install-recommends $missing >/dev/null ||
    { $sudo apt-get update -q >/dev/null && $sudo apt-get install -y -q --no-install-recommends $missing >/dev/null; }
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin/pelidorn_sample" "$work" --size 6000x4000 --grain >/dev/null
width=6000 height=4000
diag=$(awk -v w=$width -v h=$height 'BEGIN { printf "%.4f", sqrt(w * w + h * h) }')

# seconds and peak MiB of one command
timed() {
  /usr/bin/time -v "$@" >/dev/null 2>"$work/time.txt" || { tail -3 "$work/time.txt"; return 1; }
  local secs kb
  secs=$(awk -F': ' '/Elapsed \(wall clock\)/ {n=split($2,a,":"); s=0; for(i=1;i<=n;i++) s=s*60+a[i]; print s}' "$work/time.txt")
  kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
  echo "$secs $((kb / 1024))"
}

echo "input: ${width}x${height} RGB 8-bit PNG, $(nproc) cores"
printf '%-6s %9s | %9s %9s | %9s %9s | %8s %8s\n' RADI "px" "ours s" "ours MiB" "gegl s" "gegl MiB" "time x" "mem x"
for r in 0 5 50; do
  px=$(awk -v r=$r -v d=$diag 'BEGIN { printf "%.2f", r * d / 800 }')
  read -r os om < <(timed "$bin/pelidorn" "$work/scene.png" "$work/ours.png" "RADI=$r" --quiet)
  if command -v gegl >/dev/null; then
    read -r gs gm < <(timed gegl -i "$work/scene.png" -o "$work/gegl.png" -- gegl:lens-blur "radius=$px")
    tr=$(awk -v a=$os -v b=$gs 'BEGIN { printf "%.2f", a / b }')
    mr=$(awk -v a=$om -v b=$gm 'BEGIN { printf "%.2f", a / b }')
  else
    gs=- gm=- tr=- mr=-
  fi
  printf '%-6s %9s | %9s %9s | %9s %9s | %8s %8s\n' "$r" "$px" "$os" "$om" "$gs" "$gm" "$tr" "$mr"
done
