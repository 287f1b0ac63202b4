#!/usr/bin/env bash
# Makes the GIF reader's test files with independent tools: ImageMagick,
# gifsicle, Pillow and giflib's gifbuild, plus gifkit.py for byte layouts
# the tools do not write (sub-block sizes, a zero logical screen, deferred
# clear codes). The tests compare every file with giflib's decode.
# usage: make-files.sh OUTDIR
set -euo pipefail
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" gifkit.py
kit() { "$py" "$here/gifkit.py" "$@"; }
# ImageMagick records the time in its files; keep them the same from run to run.
export SOURCE_DATE_EPOCH=0

# ImageMagick: tables of 8, 4, 2 and 1 bits, interlacing, odd sizes,
# transparency, a second frame with its own table.
convert "$sample" -colors 256 im_table8.gif
convert "$sample" -resize 50% -colors 16 im_table4.gif
convert "$sample" -resize 30% -colors 4 im_table2.gif
convert "$sample" -resize 40% -colors 2 im_table1.gif
convert "$sample" -resize 60% -colors 200 -interlace GIF im_interlaced.gif
for size in 1x1 7x5 1x37 37x1; do
  convert "$sample" -resize "${size}!" -colors 8 "im_odd_${size}.gif"
done
convert "$sample" -resize '10x3!' -colors 8 -interlace GIF im_interlaced_10x3.gif
convert "$sample" -resize '1x9!' -colors 8 -interlace GIF im_interlaced_1x9.gif
convert "$sample" -resize '13x2!' -colors 8 -interlace GIF im_interlaced_13x2.gif
convert "$sample" -resize 20% -colors 32 -fuzz 20% -transparent '#F0E0D0' im_transparent.gif
convert "$sample" -resize 25% -colors 16 \( "$sample" -resize 12% -colors 7 \) -adjoin im_local_second.gif

# gifsicle: frames smaller than and partly outside the logical screen,
# comments, a loop count and an application block nobody knows.
gifsicle -S 300x260 -p 40,30 im_table4.gif > gs_small_frame.gif
gifsicle -p 60,50 im_table2.gif > gs_outside_wide.gif
kit screen gs_outside_wide.gif gs_outside.gif 100 90
rm gs_outside_wide.gif
gifsicle -S 90x100 -p 9,13 im_transparent.gif > gs_small_transparent.gif
gifsicle -c "made by gifsicle" --app-extension "QUILLARCAPP" "some private bytes" --loopcount=3 im_table2.gif \
  > gs_extensions.gif

# Pillow: GIF87a (no extensions), interlaced as it writes by default.
"$py" - "$sample" <<'EOF'
import sys
from PIL import Image
image = Image.open(sys.argv[1]).convert('RGB')
image.resize((120, 127)).quantize(64).save('pil_87a.gif')
image.resize((33, 41)).quantize(5).save('pil_87a_interlaced.gif', interlace=True)
EOF

# giflib's gifbuild: frame 0 with a table of its own over a global one that
# frame 1 uses; a comment, plain text and a private extension label.
gifbuild > gb_tables.gif <<'EOF'
screen width 8
screen height 5
screen background 1
screen map
	rgb 000 000 000 is a
	rgb 255 255 255 is b
	rgb 200 010 010 is c
	rgb 010 200 010 is d
end
image
image left 0
image top 0
image map
	rgb 010 010 220 is a
	rgb 240 240 010 is b
	rgb 020 220 220 is c
	rgb 230 020 230 is d
end
image bits 8 by 2
abcdabcd
ddccbbaa
comment
a comment line
end
plaintext
\x00\x00\x00\x00\x08\x00\x06\x00\x08\x08\x01\x00
Hello
end
extension 02
private data
end
image
image left 2
image top 1
image interlaced
image bits 3 by 5
abc
bcd
cda
dab
abd
EOF

# gifkit: the same pictures in other sub-block sizes, a zero logical screen,
# and code streams that fill the table with and without a clear code.
kit reblock im_table8.gif kit_blocks1_table8.gif 1
kit reblock gb_tables.gif kit_blocks3_tables.gif 3
kit screen im_table4.gif kit_zero_screen.gif 0 0
kit noise kit_full_table.gif 128 96 1 full
kit noise kit_deferred_clear.gif 128 96 2 deferred
kit noise kit_exact255.gif 150 1 3 exact255

# ImageMagick's own decode of one file, for the window test.
convert im_table4.gif -type TrueColor BMP3:im_table4_decoded.bmp

touch "$stamp"
