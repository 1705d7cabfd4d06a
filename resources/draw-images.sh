#!/bin/sh
# Draws the compiled-in images of the window with ImageMagick. Each is drawn once at twice the size
# it is shown, as NAME@2x.png, which Qt takes on screens scaled above 100 %; NAME.png is the same
# drawing shrunk to the shown size for screens at 100 %. Run from anywhere; writes images/.
set -eu
cd "$(dirname "$0")/images"

BLUE='#0c80e8'
ACTION='#217cff'
GREY='#8a9099'

blank() { convert -size "$1" xc:none "$2"; }

# Header buttons: white strokes on the blue header.
header() { # name, draw commands
    convert -size 52x52 xc:none -fill none -stroke white -strokewidth 4 -draw "$2" "$1@2x.png"
}
header homepage "polyline 10,26 26,11 42,26 path 'M 16,24 L 16,42 L 36,42 L 36,24' rectangle 23,31 29,42"
header minBtn_p "line 13,34 39,34"
header maxBtn_p "rectangle 13,13 39,39"
header normal_p "rectangle 12,20 32,40 polyline 20,20 20,12 40,12 40,32 32,32"
header closeBtn_p "line 15,15 37,37 line 37,15 15,37"

# Logo: a white speech bubble holding a sound wave.
convert -size 60x60 xc:none \
    -fill white -stroke none -draw "roundrectangle 5,7 55,45 10,10" \
    -draw "polygon 14,42 14,56 28,44" \
    -stroke "$BLUE" -strokewidth 4 -fill none \
    -draw "line 17,22 17,30 line 25,16 25,36 line 33,20 33,32 line 41,24 41,28" \
    icon@2x.png

# Window icon: the same mark on a blue rounded square, drawn on a 128-unit grid at any size.
window_icon() { # size in pixels, file
    scale=$(awk "BEGIN { print $1 / 128 }")
    convert -size "$1x$1" xc:none -draw "scale $scale,$scale \
        fill $BLUE roundrectangle 0,0 127,127 24,24 \
        fill white roundrectangle 20,24 108,90 16,16 polygon 36,86 36,110 60,90 \
        stroke $BLUE stroke-width 8 fill none \
        line 42,46 42,68 line 56,36 56,78 line 70,42 70,72 line 84,50 84,62" "$2"
}
window_icon 128 halvexLogo.png

# The program's icon in the desktop's menu: the window icon at the hicolor theme's sizes.
for size in 16 22 24 32 48 64 128 256 512; do
    mkdir -p "../icons/hicolor/${size}x${size}/apps"
    window_icon "$size" "../icons/hicolor/${size}x${size}/apps/org.example.tovarin.png"
done

# List headers: a note and a page, blue.
convert -size 48x48 xc:none -fill "$BLUE" -stroke "$BLUE" -strokewidth 3 \
    -draw "ellipse 16,36 7,6 0,360 ellipse 36,32 7,6 0,360" \
    -draw "line 22,36 22,10 line 42,32 42,6 line 22,10 42,6 line 22,15 42,11" \
    audio@2x.png
convert -size 48x48 xc:none -fill none -stroke "$BLUE" -strokewidth 3 \
    -draw "path 'M 10,4 L 30,4 L 40,14 L 40,44 L 10,44 Z' polyline 30,4 30,14 40,14" \
    -draw "line 16,22 34,22 line 16,29 34,29 line 16,36 28,36" \
    word@2x.png

# "+" on the audio list header.
convert -size 76x80 xc:none -fill "$ACTION" -draw "circle 38,40 38,14" \
    -stroke white -strokewidth 5 -draw "line 38,28 38,52 line 26,40 50,40" \
    jia@2x.png

# Tool strip.
convert -size 48x48 xc:none -fill '#ff4d4f' -draw "circle 24,24 24,2" \
    -fill white -draw "circle 24,24 24,14" -fill '#ff4d4f' -draw "circle 24,24 24,17" \
    record@2x.png
convert -size 48x48 xc:none -fill "$ACTION" -draw "circle 24,24 24,2" \
    -fill white -draw "roundrectangle 15,15 33,33 2,2" \
    stop@2x.png
convert -size 72x72 xc:none -fill "$ACTION" -draw "circle 36,36 36,2" \
    -fill white -draw "polygon 28,22 28,50 52,36" \
    play@2x.png
convert -size 72x72 xc:none -fill "$ACTION" -draw "circle 36,36 36,2" \
    -fill white -draw "rectangle 25,22 32,50 rectangle 40,22 47,50" \
    pause@2x.png
convert -size 40x32 xc:none -fill "$GREY" \
    -draw "polygon 20,4 20,28 2,16 polygon 38,4 38,28 20,16" \
    backward@2x.png
convert -size 40x32 xc:none -fill "$GREY" \
    -draw "polygon 2,4 2,28 20,16 polygon 20,4 20,28 38,16" \
    forward@2x.png

# The shown size: half of each double-size drawing, filtered rather than dropped pixel by pixel.
for big in *@2x.png; do
    convert "$big" -resize 50% "${big%@2x.png}.png"
done
# Without time stamps a fresh run changes no file whose drawing stayed the same.
for image in *.png; do
    mogrify -define png:exclude-chunks=date,time "$image"
done

# Placeholders the resource set carries but nothing reads.
: > null.txt
: > new.doc
