#!/bin/sh
# Renders the PNG sizes of the icon from data/icons/tovik.svg (needs rsvg-convert,
# package librsvg2-bin). The PNGs are kept in the repository, so building does
# not need it.
set -e
cd "$(dirname "$0")/../data/icons"
for size in 16 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" tovik.svg -o "tovik-$size.png"
done
