#!/bin/sh
# Puts the rendered skin images together into rough pictures of each page, with English texts,
# so that the images can be judged where they will be used: tools/art/out/preview-*.png and
# tools/art/out/preview.png (all of them). Positions are a suggestion for the layouts, not the
# layouts themselves. Needs ImageMagick and the Noto Sans fonts.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
s=$(cd "$here/../../skin/skin" && pwd)
out="$here/out"
mkdir -p "$out"
regular=/usr/share/fonts/truetype/noto/NotoSans-Regular.ttf
bold=/usr/share/fonts/truetype/noto/NotoSans-Bold.ttf

# Upper panel of the setting page, the settings panel open below it.
/usr/bin/convert -size 650x560 xc:white \
    "$s/backgroud.png" -geometry +0+0 -composite \
    "$s/btn_min_normal.png" -geometry +570+0 -composite \
    "$s/btn_close_hot.png" -geometry +610+0 -composite \
    "$s/logo.png" -geometry +289+62 -composite \
    -font "$bold" -pointsize 20 -fill '#000000' -gravity north -annotate +0+148 'Orbala Lumeno' \
    -gravity northwest \
    "$s/btn_primary_normal.png" -geometry +205+206 -composite \
    -font "$bold" -pointsize 15 -fill '#FFFFFF' -gravity north -annotate +0+216 'Install' \
    -gravity northwest \
    "$s/checkbox_checked.png" -geometry +32+313 -composite \
    -font "$regular" -pointsize 12 -fill '#000000' -annotate +56+311 "I've read and agreed" \
    -fill '#8372FF' -annotate +180+311 'Orbala License Agreement' \
    -fill '#555555' -annotate +503+311 'Install Setting' \
    "$s/chevron_up.png" -geometry +604+316 -composite \
    -fill '#ECEAF8' -draw 'rectangle 0,360 650,360' \
    -fill '#000000' -annotate +40+408 'Select Language :' \
    "$s/combo_normal.png" -geometry +190+400 -composite \
    -annotate +204+408 'English' \
    "$s/combo_arrow.png" -geometry +402+409 -composite \
    -annotate +40+466 'Installation Path:' \
    "$s/edit_focus.png" -geometry +190+458 -composite \
    -annotate +204+466 'C:\Program Files\Orbala' \
    "$s/btn_secondary_normal.png" -geometry +500+458 -composite \
    "$s/icon_folder.png" -geometry +524+467 -composite \
    -annotate +546+466 'Browse' \
    -fill none -stroke '#D9D6E8' -draw 'rectangle 0,0 649,559' \
    "$out/preview-setting.png"

# Running page: carousel frame 2 with its caption and dots, the progress row below.
/usr/bin/convert -size 650x360 xc:white \
    "$s/anima/2.png" -geometry +1+0 -composite \
    -font "$bold" -pointsize 15 -fill '#4A4A4A' -gravity north \
    -annotate +0+40 'Bring your photos to life\nLight, colour and detail in one touch' \
    -gravity northwest \
    "$s/dot_normal.png" -geometry +265+282 -composite \
    "$s/dot_selected.png" -geometry +289+282 -composite \
    "$s/dot_normal.png" -geometry +313+282 -composite \
    "$s/dot_normal.png" -geometry +337+282 -composite \
    "$s/dot_normal.png" -geometry +361+282 -composite \
    -font "$regular" -pointsize 13 -fill '#000000' -annotate +24+310 'Installing, please wait...' \
    -fill '#8372FF' -annotate +188+310 '42%' -fill '#000000' -annotate +220+310 'completed.' \
    "$s/progress_track.png" -geometry +24+338 -composite \
    \( "$s/progress_fill.png" -crop 202x6+0+0 +repage \) -geometry +24+338 -composite \
    "$s/btn_secondary_hot.png" -geometry +522+312 -composite \
    -font "$regular" -pointsize 13 -fill '#000000' -gravity northwest -annotate +564+319 'Hide' \
    -fill none -stroke '#D9D6E8' -draw 'rectangle 0,0 649,359' \
    "$out/preview-running.png"

# Finish page.
/usr/bin/convert -size 650x360 xc:white \
    "$s/backgroud_complete.png" -geometry +0+0 -composite \
    "$s/btn_min_normal.png" -geometry +570+0 -composite \
    "$s/btn_close_normal.png" -geometry +610+0 -composite \
    "$s/success_check.png" -geometry +285+56 -composite \
    -font "$bold" -pointsize 20 -fill '#000000' -gravity north -annotate +0+148 'Orbala Lumeno' \
    -font "$regular" -pointsize 13 -fill '#555555' -annotate +0+180 'Orbala Lumeno has been installed successfully on your computer!' \
    -gravity northwest \
    "$s/btn_primary_hot.png" -geometry +205+226 -composite \
    -font "$bold" -pointsize 15 -fill '#FFFFFF' -gravity north -annotate +0+236 'Start' \
    -fill none -stroke '#D9D6E8' -draw 'rectangle 0,0 649,359' \
    "$out/preview-finish.png"

# Failure page.
/usr/bin/convert -size 650x360 xc:white \
    "$s/backgroud_complete.png" -geometry +0+0 -composite \
    "$s/btn_min_normal.png" -geometry +570+0 -composite \
    "$s/btn_close_normal.png" -geometry +610+0 -composite \
    "$s/fail_illustration.png" -geometry +285+50 -composite \
    -font "$bold" -pointsize 19 -fill '#000000' -gravity north -annotate +0+142 'Installation failed, please try again.' \
    -font "$regular" -pointsize 13 -fill '#555555' \
    -annotate +0+176 'The program installation failed, you can try to reinstall it again. Or directly' \
    -annotate +0+196 'download the installation package file and install it.' \
    -gravity northwest \
    "$s/btn_primary_pushed.png" -geometry +205+240 -composite \
    -font "$bold" -pointsize 15 -fill '#FFFFFF' -gravity north -annotate +0+250 'Try again' \
    -fill none -stroke '#D9D6E8' -draw 'rectangle 0,0 649,359' \
    "$out/preview-failure.png"

# Message box, with the question icon and both buttons.
/usr/bin/convert -size 500x190 xc:white \
    "$s/message_bg.png" -geometry +0+0 -composite \
    "$s/btn_close_normal.png" -geometry +460+0 -composite \
    "$s/logo_small.png" -geometry +16+10 -composite \
    -gravity northwest -font "$regular" -pointsize 12 -fill '#555555' -annotate +44+11 'Orbala Lumeno' \
    "$s/message_help.png" -geometry +30+62 -composite \
    -font "$regular" -pointsize 13 -fill '#000000' -annotate +88+62 'You have already installed Orbala Lumeno on your' \
    -annotate +88+82 'computer. Do you want to replace it?' \
    "$s/btn_primary_small_normal.png" -geometry +250+136 -composite \
    "$s/btn_secondary_hot.png" -geometry +372+136 -composite \
    -font "$bold" -pointsize 13 -fill '#FFFFFF' -gravity northwest -annotate +279+143 'Replace' \
    -font "$regular" -fill '#000000' -annotate +406+143 'Cancel' \
    -fill none -stroke '#D9D6E8' -draw 'rectangle 0,0 499,189' \
    "$out/preview-message.png"

# Launch hint window, on a grey desktop so that the transparent corners show.
/usr/bin/convert -size 360x360 xc:'#9A9AA6' \
    "$s/waiting.png" -geometry +20+20 -composite \
    "$s/gif/bg05.png" -geometry +20+20 -composite \
    "$s/logo_running.png" -geometry +148+116 -composite \
    -font "$regular" -pointsize 18 -fill '#000000' -gravity north -annotate +0+230 'Orbala Lumeno' \
    "$out/preview-hint.png"

montage -background '#EDEDF2' -geometry '+12+12' -tile 3x \
    "$out/preview-setting.png" "$out/preview-running.png" "$out/preview-finish.png" \
    "$out/preview-failure.png" "$out/preview-message.png" "$out/preview-hint.png" "$out/preview.png"
echo "preview.sh: $out/preview.png"
