#pragma once
// ovalixsrc: a live push source of the phone's JPEG frames, read from the
// shared camera block through the consumer library.

#include <gst/base/gstpushsrc.h>

G_BEGIN_DECLS

#define OVALIX_TYPE_SRC (ovalix_src_get_type())
G_DECLARE_FINAL_TYPE(OvalixSrc, ovalix_src, OVALIX, SRC, GstPushSrc)

// Registers the element with a plugin (the plugin's init, or a test's static
// registration).
gboolean OvalixSrcRegister(GstPlugin* plugin);

// Caps name of the reference timestamp meta that carries the phone's send
// stamp (its millisecond clock, in nanoseconds) on every live buffer.
#define OVALIX_PHONE_STAMP_CAPS "timestamp/x-ovalix-phone"

G_END_DECLS
