#!/usr/bin/env bash
# Makes the animation tests' files: frames drawn by ImageMagick, put
# together by gifsicle (positions, delays, disposal methods, transparency,
# loop counts), and ImageMagick's own view of every animation: its
# coalesced frames over white, as <name>_NNN.ppm. compare.txt lists the
# animations whose frames the painter must reproduce exactly.
# usage: make-files.sh OUTDIR
set -euo pipefail
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" ../gif/gifkit.py
export SOURCE_DATE_EPOCH=0

# The pieces: a full 48 x 36 backdrop frame, and smaller frames with
# transparent parts (ImageMagick gives "none" the transparent index).
convert -size 48x36 xc:'#3060a0' +antialias -fill '#e0c040' -draw 'rectangle 4,4 20,16' \
  -fill '#20a060' -draw 'rectangle 26,18 44,32' back.gif
convert -size 20x14 xc:none +antialias -fill '#d02020' -draw 'rectangle 2,2 12,8' \
  -fill '#ffff00' -draw 'rectangle 8,6 18,12' red.gif
convert -size 16x16 xc:none +antialias -fill '#202020' -draw 'rectangle 0,0 15,3' \
  -fill '#f0f0f0' -draw 'rectangle 4,4 11,15' grey.gif
convert -size 24x10 xc:'#8040c0' +antialias -fill none -draw 'rectangle 6,2 17,7' \
  -fill '#40c0c0' -draw 'point 1,1' solid.gif
convert -size 12x12 xc:'#c08040' +antialias -fill none -draw 'rectangle 3,3 8,8' holed.gif

# One animation per disposal method, frames smaller than the screen.
anim() {  # name disposal
  gifsicle -D asis -d 10 back.gif -D "$2" -d 10 -p 5,4 red.gif -D "$2" -p 20,10 grey.gif \
    -D "$2" -p 2,20 solid.gif -D "$2" -p 30,2 holed.gif -D asis -p 10,14 red.gif > "$1"
}
anim disposal0.gif none
anim disposal1.gif asis
anim disposal2.gif background
anim disposal3.gif previous
# Every order of methods the painter tells apart: 3 after 2, after 3 and
# after 1; 2 after 3; a first frame smaller than the screen.
gifsicle -S 48x36 -D background -d 5 -p 3,3 red.gif -D previous -p 10,8 grey.gif \
  -D previous -p 20,12 solid.gif -D asis -p 1,1 holed.gif -D previous -p 25,20 red.gif \
  -D background -p 26,18 grey.gif -D previous -p 6,24 solid.gif -D none -p 30,4 holed.gif > mixed.gif
# Delays 0, 1, 2, 10 and 20, shown three times in all.
gifsicle --loopcount=3 -D asis -d 0 back.gif -d 1 -p 5,4 red.gif -d 2 -p 20,10 grey.gif \
  -d 10 -p 2,20 solid.gif -d 20 -p 30,2 holed.gif > delays.gif
# A frame without a graphic control extension between two with one.
gifsicle -D asis -d 10 back.gif -D none --no-delay -p 5,4 solid.gif -D background -d 10 -p 20,10 grey.gif \
  > no_control.gif
# Endless looping; a delay of 5000 units, which a synchronous painter caps.
gifsicle --loopcount=forever -D asis -d 5000 back.gif -d 5 -p 5,4 red.gif > long_delay.gif
# Undefined disposal values 4 to 7: shown, and left in place.
gifsicle -D asis -d 10 back.gif -D 5 -p 5,4 red.gif -D 7 -p 20,10 grey.gif -D 4 -p 2,20 solid.gif > disposal5.gif
printf '%s\n' disposal0 disposal1 disposal2 disposal3 mixed delays no_control disposal5 > compare.txt
# A picture of one frame, smaller than the screen: the decode tool plays it
# all the same.
gifsicle -S 48x36 -p 5,4 red.gif > one_frame.gif
while read -r name; do
  convert "$name.gif" -coalesce -background white -alpha remove -alpha off "${name}_%03d.ppm"
done < <(cat compare.txt; echo one_frame)

# Files the tools do not write, cut from the ones above: loop_at_2.gif,
# whose loop extension (count 2) stands before frame 2; stray_zero.gif, a
# zero byte between frame 1's control extension and its image (an empty
# frame in the file model); all_empty.gif, two frames of nothing but a
# control extension and a stray zero byte each.
"$py" - "$here/../gif" <<'EOF'
import sys
sys.path.insert(0, sys.argv[1])
from gifkit import parse, join
head, blocks, tail = parse(open('delays.gif', 'rb').read())
loop = next(b for b in blocks if b[0] == 'ext' and b[1][1] == 0xFF)
rest = [b for b in blocks if b is not loop]
sub = bytearray(loop[2][1])
sub[1:3] = (2).to_bytes(2, 'little')
rest.insert([i for i, b in enumerate(rest) if b[0] == 'img'][1] + 1, ('ext', loop[1], [loop[2][0], bytes(sub)]))
open('loop_at_2.gif', 'wb').write(join(head, rest, tail))

head, blocks, tail = parse(open('disposal1.gif', 'rb').read())
second = [i for i, b in enumerate(blocks) if b[0] == 'img'][1]
open('stray_zero.gif', 'wb').write(join(head, blocks[:second] + [('raw', b'\0', None)] + blocks[second:], tail))
control = next(b for b in blocks if b[0] == 'ext' and b[1][1] == 0xF9)
open('all_empty.gif', 'wb').write(join(head, [control, ('raw', b'\0', None)] * 2, b';'))
EOF
rm back.gif red.gif grey.gif solid.gif holed.gif
touch "$stamp"
