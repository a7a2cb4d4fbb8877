#!/usr/bin/env bash
# Takes a picture of every wizard page under Xvfb, on a 1600x1000 and a
# 1024x700 screen, each at 100 % and 150 % scaling, into OUTDIR (default:
# screenshots/ beside the test program), named PAGE-WxH-SCALE.png. The window
# is asked for the whole screen, so what does not fit shows.
#   screenshots.sh GUI_TEST_PROGRAM [OUTDIR]
set -euo pipefail
program="${1:?usage: screenshots.sh GUI_TEST_PROGRAM [OUTDIR]}"
out="${2:-$(dirname "$program")/screenshots}"
mkdir -p "$out"
rm -f "$out"/*.png
# The tour starts on the shared segmented EWF image beside the checkout.
testdata="$(cd "$(dirname "$0")/../../.." && pwd)/shared/testdata"
if [ ! -f "$testdata/image-split.E01" ]; then
  if [ -n "${CI:-}" ]; then echo "screenshots: $testdata/image-split.E01 is missing" >&2; exit 1; fi
  echo "screenshots: SKIPPED, $testdata/image-split.E01 is not beside this checkout" >&2
  exit 77
fi
status=0
for screen in 1600x1000 1024x700; do
  for scale in 1 1.5; do
    tag="$screen-$(awk "BEGIN { print $scale * 100 }")"
    QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale SALVAGE_SCREENSHOT_DIR="$out" SALVAGE_SCREENSHOT_TAG="$tag" \
      SALVAGE_SCREENSHOT_SIZE="$screen" xvfb-run -a -s "-screen 0 ${screen}x24" "$program" || status=1
  done
done
echo "$(ls "$out"/*.png | wc -l) screenshots in $out"
exit $status
