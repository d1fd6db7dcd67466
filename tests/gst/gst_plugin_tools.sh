#!/usr/bin/env bash
# The plugin file as people use it: loaded from the build tree through
# GST_PLUGIN_PATH by gst-inspect-1.0 and gst-launch-1.0, in a pipeline that
# ends in v4l2sink (checked up to the element: there is no v4l2loopback device
# here), and installed (staged with DESTDIR) into the system's plugin
# directory. Runs without a service, so the source sends its placeholder.
#
#   gst_plugin_tools.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/ovalix-gst-tools.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

plugin=$build/gst/libgstovalix.so
[ -f "$plugin" ] || fail "no plugin at $plugin"
export GST_REGISTRY=$work/registry.bin GST_REGISTRY_FORK=no GST_PLUGIN_PATH=$build/gst
# A sanitizer build's plugin needs the sanitizer runtimes loaded first; the
# tools are not ours, so their leaks are not looked at. grep reads all of
# ldd's output: one that stopped at the first match could leave ldd to die of
# SIGPIPE, which pipefail would take for "no sanitizer".
if ldd "$plugin" | grep libasan >/dev/null; then
  export LD_PRELOAD="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so)"
  export ASAN_OPTIONS=detect_leaks=0
fi

echo "== gst-inspect-1.0 ovalixsrc documents its properties"
gst-inspect-1.0 ovalixsrc >"$work/inspect.txt" || fail "gst-inspect-1.0 ovalixsrc failed"
for word in "timeout" "placeholder-fps" "request-size" "live-frames" "dropped-frames" \
            "image/jpeg" "Source/Video"; do
  grep -q -- "$word" "$work/inspect.txt" || fail "gst-inspect output lacks $word"
done

echo "== the picture decodes into what a v4l2loopback device takes (YUY2)"
gst-launch-1.0 -q ovalixsrc num-buffers=3 ! jpegdec ! videoconvert ! \
  video/x-raw,format=YUY2,width=640,height=480 ! fakesink >"$work/yuy2.txt" 2>&1 ||
  { cat "$work/yuy2.txt"; fail "ovalixsrc ! jpegdec ! videoconvert ! YUY2 did not run"; }

echo "== into v4l2sink: the pipeline builds, the sink reports the missing device"
if gst-launch-1.0 ovalixsrc num-buffers=3 ! jpegdec ! videoconvert ! \
     v4l2sink device="$work/video99" >"$work/v4l2.txt" 2>&1; then
  fail "v4l2sink ran without a device"
fi
grep -q "v4l2sink" "$work/v4l2.txt" && grep -q -i "device" "$work/v4l2.txt" ||
  { cat "$work/v4l2.txt"; fail "no error from v4l2sink about its device"; }
if grep -q -i "no element\|could not link\|erroneous pipeline" "$work/v4l2.txt"; then
  cat "$work/v4l2.txt"; fail "the v4l2sink pipeline did not build"
fi

echo "== installed into the system plugin directory (staged)"
DESTDIR=$work/stage cmake --install "$build" --component gst >/dev/null
dir=$(pkg-config --variable=pluginsdir gstreamer-1.0)
[ -f "$work/stage$dir/libgstovalix.so" ] || fail "not installed to $dir"
GST_PLUGIN_PATH=$work/stage$dir GST_REGISTRY=$work/registry2.bin gst-inspect-1.0 ovalixsrc \
  >/dev/null || fail "the installed plugin does not load"
echo "ok"
