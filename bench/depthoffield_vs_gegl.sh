#!/usr/bin/env bash
# The depth-of-field blur of the host tool against Debian's gegl (gegl:variable-blur, the
# depth map as its aux input, no occlusion handling) on the same image, depth map and radius,
# side by side: wall-clock seconds and peak resident memory of each whole process
# (/usr/bin/time -v), and the ratios, in one run. Two depth maps:
#   ramp    0 (far, most blurred) at the top to 255 (in focus) at the bottom; Radius 5 and 20
#   photo   the picture's own luminance, focus at 255 (its brightest parts): most of the
#           picture lies far from the focal point, the scatter's worst case; Radius 5, 20, 50
# Installs gegl when it is missing and the script runs as root; without gegl the tool's
# figures alone are printed, with a note. CI does not run this script.
#   bash bench/depthoffield_vs_gegl.sh [BUILD_DIR]     (default build/release)
#   SIZE=WxH (default 6000x4000), CASES="ramp photo" and RADII="5 20" to choose.
# The tool's Radius is relative to an 800-pixel diagonal; gegl's radius is in pixels, so it is
# given the same pixel radius (Radius * diagonal / 800). gegl's depth map is inverted (its aux
# white = full blur) to match the tool's focus at depth 255.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
bin="$build/bin"
size=${SIZE:-6000x4000}
cases=${CASES:-ramp photo}
w=${size%x*}
h=${size#*x}
[ -x "$bin/pelidorn" ] || { echo "$bin/pelidorn is not built"; exit 1; }
# ImageMagick's convert (a convert that cannot make a gradient is not it).
convert=""
for c in convert /usr/bin/convert magick; do
    if command -v "$c" >/dev/null && "$c" -size 2x2 gradient:black-white png:- >/dev/null 2>&1; then
        convert=$c
        break
    fi
done
[ -n "$convert" ] || { echo "ImageMagick's convert is needed for the depth maps (apt-get install imagemagick)"; exit 1; }
have_gegl=1
if ! command -v gegl >/dev/null; then
    if [ "$(id -u)" = 0 ]; then apt-get install -y gegl >/dev/null 2>&1 || true; fi
    command -v gegl >/dev/null || {
        have_gegl=0
        echo "note: gegl is not installed (apt-get install gegl); the tool's figures alone follow"
    }
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin/pelidorn_sample" "$work" --size "$size" >/dev/null
$convert -size "$size" gradient:black-white -colorspace Gray -depth 8 -define png:color-type=0 "$work/ramp.png"
$convert "$work/scene.png" -colorspace Gray -depth 8 -define png:color-type=0 "$work/photo.png"
for d in ramp photo; do
    $convert "$work/$d.png" -negate -define png:color-type=0 "$work/$d.blurmap.png"
done
export GEGL_THREADS=${GEGL_THREADS:-$(nproc)}
echo "input: ${w}x${h} RGB 8-bit; $(nproc) cores, gegl threads $GEGL_THREADS; load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-6s %-7s %-8s %10s %10s\n' depth radius tool seconds "peak MiB"
measure() {  # label depth radius command...
    local label=$1 d=$2 r=$3; shift 3
    local rc=0
    /usr/bin/time -v "$@" 2>"$work/time.txt" >/dev/null || rc=$?
    secs=$(awk -F': ' '/Elapsed \(wall clock\)/ {n=split($2,a,":"); s=0; for(i=1;i<=n;i++) s=s*60+a[i]; print s}' "$work/time.txt")
    kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
    printf '%-6s %-7s %-8s %10.2f %10.0f%s\n' "$d" "$r" "$label" "$secs" "$((kb / 1024))" \
        "$([ $rc = 0 ] || echo "  (failed, exit $rc)")"
    echo "$secs $((kb / 1024))" > "$work/$label.$d.$r"
}
for d in $cases; do
    radii="5 20"
    [ "$d" = photo ] && radii="5 20 50"
    radii=${RADII:-$radii}
    for r in $radii; do
        px=$(awk -v r=$r -v w=$w -v h=$h 'BEGIN { printf "%.3f", r * sqrt(w*w + h*h) / 800 }')
        measure pelidorn $d $r "$bin/pelidorn" "$work/scene.png" "$work/out.png" --selection "$work/$d.png" \
            "RADI=$r" --quiet
        [ $have_gegl = 1 ] || continue
        measure gegl $d $r gegl "$work/scene.png" -o "$work/gegl.png" -- \
            gegl:variable-blur radius=$px aux=[ gegl:load path=$work/$d.blurmap.png ]
        read -r ps pm < "$work/pelidorn.$d.$r"
        read -r gs gm < "$work/gegl.$d.$r"
        awk -v ps=$ps -v gs=$gs -v pm=$pm -v gm=$gm -v r=$r -v d=$d \
            'BEGIN { printf "%s radius %s: pelidorn/gegl time %.2fx, pelidorn/gegl memory %.2fx\n", d, r, ps / gs, pm / gm }'
    done
done
