#!/bin/sh
# Draws the program's artwork with ImageMagick 6 ("convert") and the DejaVu fonts:
#   banner.jpg   400 x 80  main window banner; its top right (x 216-393, y 8-33) stays dark
#                          because the window draws white labels there
#   logo16.png   16 x 16   tray logo with transparency
#   blank16.png  16 x 16   fully transparent tray image (the "off" step of blinking)
#   notice.png   254 x 200 notice window background, rounded corners fully transparent
# Run from anywhere: ./assets/tools/make_art.sh [output folder, default: assets/]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/..}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The globe mark: a blue disc with a soft highlight at its upper left and white meridians and
# parallels, drawn large and scaled down so the lines stay smooth. The tray size gets fewer,
# bolder lines: at 16 pixels the parallels would only blur the disc.
shaded_disc() {  # shaded_disc <file>
  convert -size 256x256 xc:none -fill white -draw 'circle 128,128 128,6' \
    \( -size 400x400 radial-gradient:'#8fdcff'-'#0b3c8c' -crop 256x256+120+120 +repage \) \
    -compose src-in -composite -compose over "$1"
}

globe() {  # globe <size> <file>
  shaded_disc "$work/disc.png"
  convert "$work/disc.png" -fill none -stroke white -strokewidth 12 \
    -draw 'circle 128,128 128,14' \
    -draw 'ellipse 128,128 50,114 0,360' \
    -draw 'line 128,14 128,242' -draw 'line 14,128 242,128' \
    -strokewidth 9 \
    -draw 'path "M 32,70 Q 128,98 224,70"' -draw 'path "M 32,186 Q 128,158 224,186"' \
    -resize "$1x$1" "$2"
}

tray_globe() {  # tray_globe <file>
  shaded_disc "$work/disc.png"
  convert "$work/disc.png" -fill none -stroke white -strokewidth 22 \
    -draw 'ellipse 128,128 52,118 0,360' -draw 'line 10,128 246,128' \
    -stroke '#08306b' -strokewidth 14 -draw 'circle 128,128 128,13' \
    -resize 16x16 -depth 8 -strip "PNG32:$1"
}

globe 64 "$work/globe64.png"
tray_globe "$out/logo16.png"
convert -size 16x16 xc:none -strip "PNG32:$out/blank16.png"

# Banner: a navy-to-blue gradient with a faint diagonal sheen, a dotted network on the lower
# right, the globe and the name on the left (below the labels' rows), and an accent line along
# the bottom.
convert -size 80x400 gradient:'#0a1f3c'-'#135a8f' -rotate 90 -flop "$work/base.png"
convert -size 400x80 xc:none -fill 'rgba(255,255,255,0.06)' \
  -draw 'polygon 150,80 210,0 250,0 190,80' -draw 'polygon 200,80 260,0 275,0 215,80' \
  "$work/sheen.png"
convert -size 400x80 xc:none -stroke 'rgba(140,210,255,0.35)' -strokewidth 1 \
  -draw 'line 252,72 278,58' -draw 'line 278,58 308,68' -draw 'line 308,68 338,50' \
  -draw 'line 338,50 368,62' -draw 'line 278,58 294,46' -draw 'line 338,50 352,42' \
  -draw 'line 308,68 322,76' -draw 'line 368,62 392,72' \
  -stroke none -fill 'rgba(160,220,255,0.8)' \
  -draw 'circle 252,72 254,72' -draw 'circle 278,58 280.5,58' -draw 'circle 308,68 310,68' \
  -draw 'circle 338,50 340.5,50' -draw 'circle 368,62 370,62' -draw 'circle 294,46 295.5,46' \
  -draw 'circle 352,42 353.5,42' -draw 'circle 322,76 323.5,76' -draw 'circle 392,72 393.5,72' \
  "$work/network.png"
convert "$work/base.png" "$work/sheen.png" -composite "$work/network.png" -composite \
  "$work/globe64.png" -geometry +10+8 -composite \
  -font DejaVu-Sans-Bold -pointsize 22 -fill 'rgba(0,0,0,0.35)' -annotate +85+51 'Hostwarden' \
  -fill white -annotate +84+50 'Hostwarden' \
  -font DejaVu-Sans -pointsize 11 -fill '#9fd4ff' -annotate +86+67 'Dynamic DNS client' \
  \( -size 3x400 gradient:'#ff9f43'-'#4fc3f7' -rotate -90 \) -geometry +0+77 -composite \
  -quality 92 -sampling-factor 1x1 -strip "$out/banner.jpg"

# Notice background: a pink gradient in a rounded rectangle, a white gloss over the upper part,
# an inner highlight line and a darker rim.
convert -size 254x200 gradient:'#ffd9ea'-'#ef6fa4' "$work/pink.png"
convert -size 254x200 xc:none -fill white -draw 'roundrectangle 0,0 253,199 16,16' "$work/shape.png"
# The gloss covers the top and ends in a gentle downward curve, like light on curved glass.
convert -size 254x200 xc:black -fill white -draw 'roundrectangle 3,3 250,199 13,13' \
  \( -size 254x200 xc:black -fill white -draw 'ellipse 127,-60 220,150 0,360' \) \
  -compose multiply -composite -blur 0x0.6 "$work/gloss-mask.png"
convert -size 254x92 gradient:'gray(90%)'-'gray(35%)' -background 'gray(35%)' -extent 254x200 \
  "$work/gloss-mask.png" -compose multiply -composite "$work/gloss-alpha.png"
convert -size 254x200 xc:white "$work/gloss-alpha.png" -alpha off -compose copy-opacity -composite \
  "$work/gloss.png"
convert "$work/pink.png" "$work/gloss.png" -composite \
  "$work/shape.png" -compose copy-opacity -composite -compose over \
  -fill none -stroke 'rgba(255,255,255,0.9)' -strokewidth 1 -draw 'roundrectangle 2,2 251,197 14,14' \
  -stroke '#b0175a' -strokewidth 1.2 -draw 'roundrectangle 0.5,0.5 253.5,199.5 16,16' \
  "$work/notice-raw.png"
# The rim's anti-aliasing would tint the very corners; keep the outside of the shape clear.
convert "$work/notice-raw.png" \
  \( "$work/shape.png" -alpha extract \) -compose multiply -channel A -composite +channel \
  -strip "PNG32:$out/notice.png"
