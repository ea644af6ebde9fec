#!/bin/bash
# The README's main-job command in its virtual-display form with a short
# show: it must end cleanly and leave a screenshot with a photograph in it.
set -u
source "$(dirname "$0")/lib.sh"
repo="$(cd "$(dirname "$0")/../.." && pwd)"
shots="$BUILD/e2e-demo-shots"
rm -rf "$shots"

out=$(env -u DISPLAY "$repo/scripts/demo" --arch "${QV_WINE_ARCH:-32}" --no-build --seconds 18 --every 2 \
    --out "$shots" 2>&1)
rc=$?
echo "$out"
[ "$rc" = 0 ] && pass "demo exits 0" || fail "demo exited $rc"
echo "$out" | grep -q "screenshots in $shots" && pass "demo names its screenshot folder" || fail "no folder named"
echo "$out" | grep -Eq 'measured frame rate: [0-9]+ fps' && pass "frame rate reported" || fail "no frame rate"

best=0
for f in "$shots"/shot-*.png; do
    [ -f "$f" ] || continue
    share=$(colour_share "$f")
    echo "$(basename "$f"): $share per 10000 pixels in colour"
    [ "$share" -gt "$best" ] && best=$share
done
[ "$best" -ge 300 ] && pass "a screenshot shows a photograph ($best per 10000)" \
    || fail "no screenshot shows a photograph (best $best per 10000)"
finish
