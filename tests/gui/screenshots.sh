#!/usr/bin/env bash
# Takes a picture of every wizard page under Xvfb, at 100 % and 150 %
# scaling, into OUTDIR (default: screenshots/ beside the test program).
#   screenshots.sh GUI_TEST_PROGRAM [OUTDIR]
set -euo pipefail
program="${1:?usage: screenshots.sh GUI_TEST_PROGRAM [OUTDIR]}"
out="${2:-$(dirname "$program")/screenshots}"
mkdir -p "$out"
rm -f "$out"/*.png
status=0
for scale in 1 1.5; do
  tag=$(awk "BEGIN { print $scale * 100 }")
  QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale SALVAGE_SCREENSHOT_DIR="$out" SALVAGE_SCREENSHOT_TAG="$tag" \
    xvfb-run -a -s "-screen 0 1920x1200x24" "$program" || status=1
done
echo "$(ls "$out"/*.png | wc -l) screenshots in $out"
exit $status
