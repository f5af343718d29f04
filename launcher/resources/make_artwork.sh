#!/bin/bash
# Draws the launcher's background picture and its two icons with ImageMagick
# and packs them into the exact 24-bit DIB layouts the program embeds.
# The outputs are committed; run this only to change the artwork:
#   launcher/resources/make_artwork.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
W=394
H=380

# Stars from a fixed seed, so every run draws the same sky; few of them on
# the upper right, where the buttons stand.
stars=$(awk -v w=$W 'BEGIN { srand(8);
  for (i = 0; i < 150; i++) {
    x = int(rand() * w); y = int(rand() * 210);
    if (x > 262 && y < 100 && rand() < 0.8) continue;
    b = 90 + int(rand() * 140 * (1 - y / 260));
    printf "fill rgb(%d,%d,%d) point %d,%d ", b, b, (b + 20 > 255 ? 255 : b + 20), x, y;
    if (rand() < 0.08) printf "fill rgba(200,210,255,0.35) circle %d,%d %d,%d ", x, y, x + 1, y;
  } }')

# Sky: deep night above, a faint grey-blue glow along the horizon.
convert -size ${W}x${H} gradient:'#03050b-#34425a' \
  -draw "$stars" "$work/sky.png"

# The moon and its halo, up on the left.
convert -size ${W}x${H} xc:none \
  -fill 'rgba(170,190,220,0.18)' -draw 'circle 92,76 92,24' \
  -blur 0x18 "$work/halo.png"
convert -size ${W}x${H} xc:none \
  -fill '#e4e9ef' -draw 'circle 92,76 92,52' \
  -fill 'rgba(150,160,175,0.22)' -draw 'circle 84,70 84,63' -draw 'circle 101,86 101,81' \
  -draw 'circle 98,64 98,61' \
  -blur 0x0.6 "$work/moon.png"

# Far rooftops, pale with distance.
far="polygon 0,262 0,380 394,380 394,250 370,250 370,236 356,236 356,250 332,248 318,232 304,248 \
286,246 286,226 280,220 274,226 274,246 250,252 236,238 222,252 196,254 180,240 164,254 140,256 \
140,236 128,236 128,256 100,258 86,244 72,258 40,258 28,246 16,258"
convert -size ${W}x${H} xc:none -fill '#121925' -draw "$far" "$work/far.png"

# Near roofs and the manor with its spire, black against the sky.
near="polygon 0,300 0,380 394,380 394,292 380,292 366,276 352,292 340,292 340,270 330,270 330,292 \
300,294 284,274 268,294 240,296 240,262 218,240 196,262 196,298 178,298 178,188 172,170 166,132 \
160,170 154,188 154,298 126,298 126,270 104,248 82,270 82,300 58,300 58,284 48,284 48,300 30,302 \
16,288 0,302"
convert -size ${W}x${H} xc:none -fill '#07090e' -draw "$near" \
  -fill '#07090e' -draw 'rectangle 162,210 170,224' \
  -fill '#d9a14a' -draw 'rectangle 163,212 168,222' \
  -draw 'rectangle 212,268 216,276' -draw 'rectangle 222,268 226,276' \
  -fill '#a8742f' -draw 'rectangle 100,278 104,286' -draw 'rectangle 360,298 363,303' \
  -fill '#6f4e22' -draw 'rectangle 288,300 291,305' \
  "$work/near.png"
convert -size ${W}x${H} xc:none \
  -fill 'rgba(230,160,70,0.35)' -draw 'circle 166,217 166,209' -draw 'circle 219,272 219,264' \
  -draw 'circle 102,282 102,276' -blur 0x5 "$work/glow.png"

# Fog: soft bands drifting between the roofs and at street level.
convert -size ${W}x${H} xc:none \
  -fill 'rgba(120,140,165,0.22)' -draw 'ellipse 80,262 150,12 0,360' -draw 'ellipse 320,256 130,10 0,360' \
  -fill 'rgba(130,150,175,0.30)' -draw 'ellipse 120,318 190,18 0,360' -draw 'ellipse 330,326 150,16 0,360' \
  -fill 'rgba(140,160,185,0.28)' -draw 'ellipse 200,350 260,26 0,360' \
  -blur 0x9 "$work/fog.png"

convert "$work/sky.png" "$work/halo.png" -composite "$work/moon.png" -composite \
  "$work/far.png" -composite "$work/fog.png" -composite "$work/near.png" -composite \
  "$work/glow.png" -composite \
  -font URW-Bookman-Light-Italic -pointsize 22 -fill 'rgba(196,206,222,0.85)' \
  -annotate +16+338 'Gloamspire' \
  -alpha off -depth 8 "$work/background.png"

# The icon: the spire under a crescent moon.
icon() {
  local size=$1 out=$2
  convert -size 64x64 gradient:'#0b1120-#26324a' \
    -fill '#e6ebf2' -draw 'circle 44,17 44,7' -fill '#121a2c' -draw 'circle 49,14 49,5' \
    -fill '#05070b' -draw 'polygon 0,64 0,50 10,44 16,50 16,40 24,32 28,12 32,32 40,40 40,50 48,46 64,54 64,64' \
    -fill '#e0a24a' -draw 'rectangle 26,38 29,44' \
    -alpha off -filter Lanczos -resize ${size}x${size}! -depth 8 "rgb:$work/icon.rgb"
  python3 "$here/pack_dib.py" ico "$work/icon.rgb" "$size" "$size" "$out"
}

convert "$work/background.png" -depth 8 "rgb:$work/background.rgb"
python3 "$here/pack_dib.py" bmp "$work/background.rgb" $W $H "$here/background.bmp"
icon 64 "$here/launcher.ico"
icon 16 "$here/launcher_small.ico"
