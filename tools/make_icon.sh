#!/usr/bin/env bash
# Draws the program's icon, app/plainrunctl.ico: a switch on a blue tile, in the sizes that
# Explorer, the Start menu and Programs and Features show (256, 48, 32, 24 and 16 pixels).
# Run it again after changing the drawing and commit the result; the build only reads the file.
set -eu
cd "$(dirname "$0")/.."
tile='#1F5FAF'
convert -size 256x256 xc:none -fill "$tile" -draw 'roundrectangle 8,8 247,247 40,40' \
  -fill white -draw 'roundrectangle 40,88 215,168 40,40' -fill "$tile" -draw 'circle 175,128 175,96' \
  -depth 8 -define icon:auto-resize=256,48,32,24,16 -define png:exclude-chunks=date,time app/plainrunctl.ico
