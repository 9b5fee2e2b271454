#!/usr/bin/env bash
# Writes seed pictures for the image fuzz targets into FOLDER: every pixel layout ffmpeg can
# write in the given container, at an odd size so that rows are padded.
png|png
set -euo pipefail
folder=$1
kind=$2
mkdir -p "$folder"
case "$kind" in
  bmp) formats=(bgr24 bgra pal8 gray monob rgb4_byte rgb8 bgr8 rgb565 rgb555 rgb444) ;;
  jpg) formats=(yuvj420p yuvj422p yuvj444p gray) ;;
  webp) formats=(yuv420p yuva420p) ;;
  headers)
    # One small picture in each container the header reader knows.
    for ext in png jpg gif bmp webp tiff; do
      ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=13x7:d=1 -frames:v 1 "$folder/seed.$ext"
    done
    ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=13x7:d=1 -frames:v 1 -pix_fmt rgba "$folder/rgba.png"
    ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=13x7:d=1 -frames:v 1 -c:v libwebp -lossless 1 "$folder/lossless.webp"
    exit 0 ;;
  png) formats=(rgb24 rgba gray pal8 monob ya8 rgb48be gray16be rgba64be ya16be) ;;
  tga) formats=(bgr24 bgra pal8 gray rgb555) ;;
  pcx) formats=(rgb24 pal8 gray monob rgb4_byte) ;;
  gif) formats=(pal8 rgb8 gray monob) ;;
  ico) formats=(bgra pal8 bgr24 rgb555) ;;
  *) echo "unknown seed kind: $kind" >&2; exit 2 ;;
esac
for pf in "${formats[@]}"; do
  ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=13x7:d=1 -frames:v 1 -pix_fmt "$pf" "$folder/$pf.$kind"
done
if [ "$kind" = jpg ]; then
  ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=13x7:d=1 -frames:v 1 -pix_fmt yuvj420p -q:v 2 "$folder/q2.$kind"
fi
if [ "$kind" = webp ]; then
  ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=13x7:d=1 -frames:v 1 -c:v libwebp -lossless 1 "$folder/lossless.$kind"
fi
# TGA also uncompressed; GIF also as a short palettegen animation (transparency, disposal).
if [ "$kind" = tga ]; then
  ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=13x7:d=1 -frames:v 1 -pix_fmt bgr24 -rle 0 "$folder/plain.tga"
fi
if [ "$kind" = gif ]; then
  ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=13x7:rate=5:d=1 \
    -vf "split[a][b];[a]palettegen[p];[b][p]paletteuse" "$folder/anim.gif"
fi
# PNG also comes Adam7-interlaced: ffmpeg writes that when asked for interlaced coding.
if [ "$kind" = png ]; then
  for pf in rgb24 rgba gray pal8 monob ya8 gray16be; do
    ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=13x7:d=1 -frames:v 1 -pix_fmt "$pf" -flags +ildct \
      "$folder/$pf-adam7.png"
  done
fi
