#!/usr/bin/env bash
# Runs the progress-window program under Wine and photographs the X screen while the window is
# up: OUT.png is the whole screen, OUT-window.png the window alone.
#   screenshot.sh PROGRAM OUT.png       (PW_WINE_STATE names the running Wine environment)
# Fails when the program's own checks fail or no screenshot could be taken.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prog=${1:?program}
out=${2:?output png}
state=${PW_WINE_STATE:?the Wine state folder}
mkdir -p "$(dirname "$out")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ready="$work/ready" done_file="$work/done"
winpath() { echo "Z:$1" | tr / '\\'; }

# Output through files only: Wine's server would keep a pipe open (see wine-run).
"$here/../../scripts/wine-run" "$prog" "$(winpath "$ready")" "$(winpath "$done_file")" \
  >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 1 300); do
  [ -s "$ready" ] && break
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
status=0
if [ -s "$ready" ]; then
  display=$(cat "$state/display")
  read -r left top right bottom < <(tr -d '\r' <"$ready")
  if xwd -root -silent -display "$display" -out "$work/screen.xwd" &&
     xwdtopnm "$work/screen.xwd" >"$work/screen.ppm" 2>/dev/null &&
     pnmtopng "$work/screen.ppm" >"$out.tmp" 2>/dev/null; then
    mv "$out.tmp" "$out"
    pnmcut -left "$left" -top "$top" -width $((right - left)) -height $((bottom - top)) \
      "$work/screen.ppm" 2>/dev/null | pnmtopng >"${out%.png}-window.png" 2>/dev/null
    echo "screenshot: $out (window ${left},${top} to ${right},${bottom})"
  else
    echo "no screenshot could be taken of display $display" >&2
    status=1
  fi
else
  echo "the program never said its window was ready" >&2
  status=1
fi
touch "$done_file"
wait $pid
rc=$?
cat "$work/out"
cat "$work/err" >&2
[ $rc -eq 0 ] || status=1
exit $status
