#!/bin/sh
# Remakes the committed real-world fixtures with Debian's ffmpeg (5.1; the
# last three were made with 5.1.9). The timecode given to the muxer is in
# each command.
# The tests read the committed files; they never run this script.
set -eu
cd "$(dirname "$0")"
ff() { ffmpeg -hide_banner -loglevel error -y -fflags +bitexact "$@"; }
small="-frames:v 2 -c:v mpeg4 -flags:v +bitexact"

# 29.97 drop-frame: 01:00:00;02 is frame 107894.
ff -f lavfi -i testsrc=size=32x32:rate=30000/1001 $small -timecode "01:00:00;02" ntsc-drop.mov
# 25 fps in an MP4: 10:00:00:00 is frame 900000.
ff -f lavfi -i testsrc=size=32x32:rate=25 $small -timecode "10:00:00:00" pal.mp4
# Two video streams, each with its own timecode track: 24 and 48 at 24 fps.
ff -f lavfi -i testsrc=size=32x32:rate=24 -f lavfi -i testsrc=size=32x32:rate=24 -map 0 -map 1 \
   $small -metadata:s:v:0 timecode="00:00:01:00" -metadata:s:v:1 timecode="00:00:02:00" two-timecodes.mov
# 23.976: 00:59:59:23 is frame 86399.
ff -f lavfi -i testsrc=size=32x32:rate=24000/1001 $small -timecode "00:59:59:23" ntsc-film.mov
# 59.94 drop-frame: 01:00:00;04 is frame 215788.
ff -f lavfi -i testsrc=size=32x32:rate=60000/1001 $small -timecode "01:00:00;04" ntsc-drop-60.mov
# 30 fps: 12:34:56:29 is frame 1358909.
ff -f lavfi -i testsrc=size=32x32:rate=30 $small -timecode "12:34:56:29" thirty.mov
# No timecode track at all.
ff -f lavfi -i testsrc=size=32x32:rate=25 $small no-timecode.mp4
# MPEG-2 video whose group of pictures header holds 01:02:03:04, and no
# timecode track (made with ffmpeg 5.1.9).
ff -f lavfi -i testsrc=size=32x32:rate=25 -frames:v 2 -c:v mpeg2video -flags:v +bitexact \
   -timecode 01:02:03:04 -write_tmcd 0 mpeg2-gop.mov

# Fragmented movies: the timecode sample is in the first moof, not in moov.
# Explicit base data offsets in each tfhd:
ff -f lavfi -i testsrc=size=32x32:rate=25 -frames:v 6 -g 2 -c:v mpeg4 -flags:v +bitexact \
   -timecode "10:00:00:00" -movflags frag_keyframe+empty_moov frag-empty-moov.mp4
# Bases relative to the moof, in a QuickTime movie:
ff -f lavfi -i testsrc=size=32x32:rate=25 -frames:v 6 -g 2 -c:v mpeg4 -flags:v +bitexact \
   -timecode "10:00:00:00" -movflags frag_keyframe+empty_moov+default_base_moof frag-base-moof.mov
ff -f lavfi -i testsrc=size=32x32:rate=25 -frames:v 6 -g 2 -c:v mpeg4 -flags:v +bitexact \
   -timecode "10:00:00:00" -movflags cmaf frag-cmaf.mp4
