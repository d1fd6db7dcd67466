#!/bin/sh
# viewer_env.sh COMMAND [ARGS...]
# Runs a viewer test with what DirectShow under Wine needs: an X display of
# its own (windows, the video renderers) and a HOME whose ALSA configuration
# gives the audio renderer a silent default device.
set -u
home=$(mktemp -d "${TMPDIR:-/tmp}/ovalix-viewer-home.XXXXXX") || exit 1
trap 'rm -rf "$home"' EXIT
printf 'pcm.!default { type null }\nctl.!default { type hw card 0 }\n' >"$home/.asoundrc"
HOME=$home xvfb-run -a -s "-screen 0 2048x1400x24 -nolisten tcp" "$@"
