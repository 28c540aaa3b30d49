#!/usr/bin/env bash
# The depth-of-field blur of the host tool against Debian's gegl (gegl:variable-blur, the
# depth map as its aux input, no occlusion handling) on the same 24-megapixel image, depth map
# and radius, side by side: wall-clock seconds and peak resident memory of each whole process
# (/usr/bin/time -v), and the ratios. Installs gegl when it is missing (needs root); CI does
# not run this script.
#   bash bench/depthoffield_vs_gegl.sh [BUILD_DIR]     (default build/release)
# The tool's Radius is relative to an 800-pixel diagonal; gegl's radius is in pixels, so it is
# given the same pixel radius (Radius * 7211 / 800 for 6000 x 4000). gegl's depth map is
# inverted (its aux white = full blur) to match the tool's focus at depth 255.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
bin="$build/bin"
[ -x "$bin/pelidorn" ] || { echo "$bin/pelidorn is not built"; exit 1; }
command -v gegl >/dev/null || { apt-get install -y gegl >/dev/null; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin/pelidorn_sample" "$work" --size 6000x4000
# A depth ramp: 0 (far, most blurred) at the top to 255 (in focus) at the bottom.
convert -size 6000x4000 gradient:black-white -colorspace Gray -depth 8 -define png:color-type=0 "$work/depth.png"
convert "$work/depth.png" -negate -define png:color-type=0 "$work/blurmap.png"
export GEGL_THREADS=${GEGL_THREADS:-$(nproc)}
echo "input: 6000x4000 RGB 8-bit, depth ramp; $(nproc) cores, gegl threads $GEGL_THREADS; load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-7s %-8s %10s %10s\n' radius tool seconds "peak MiB"
measure() {  # label radius command...
    local label=$1 r=$2; shift 2
    /usr/bin/time -v "$@" 2>"$work/time.txt" >/dev/null
    secs=$(awk -F': ' '/Elapsed \(wall clock\)/ {n=split($2,a,":"); s=0; for(i=1;i<=n;i++) s=s*60+a[i]; print s}' "$work/time.txt")
    kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
    printf '%-7s %-8s %10.2f %10.0f\n' "$r" "$label" "$secs" "$((kb / 1024))"
    echo "$secs $((kb / 1024))" > "$work/$label.$r"
}
for r in 5 20; do
    px=$(awk -v r=$r 'BEGIN { printf "%.3f", r * sqrt(6000*6000 + 4000*4000) / 800 }')
    measure pelidorn $r "$bin/pelidorn" "$work/scene.png" "$work/out.png" --selection "$work/depth.png" "RADI=$r" --quiet
    measure gegl $r gegl "$work/scene.png" -o "$work/gegl.png" -- \
        gegl:variable-blur radius=$px aux=[ gegl:load path=$work/blurmap.png ]
    read -r ps pm < "$work/pelidorn.$r"
    read -r gs gm < "$work/gegl.$r"
    awk -v ps=$ps -v gs=$gs -v pm=$pm -v gm=$gm -v r=$r \
        'BEGIN { printf "radius %s: gegl/pelidorn time %.2fx, pelidorn/gegl memory %.2fx\n", r, gs / ps, pm / gm }'
done
