#!/usr/bin/env bash
# Writes seed pictures for the image fuzz targets into FOLDER: every pixel layout ffmpeg can
# write in the given container, at an odd size so that rows are padded.
#   scripts/make-image-seeds.sh FOLDER bmp
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
