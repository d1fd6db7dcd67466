// The GStreamer plugin "ovalix": the ovalixsrc element.
#include "ovalix_src.h"

#define PACKAGE "ovalix"
#define VERSION "1.0"

static gboolean PluginInit(GstPlugin* plugin)
{
    return OvalixSrcRegister(plugin);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, ovalix,
                  "The phone camera of the Ovalix service", PluginInit, VERSION, "Proprietary",
                  "Ovalix", "Ovalix")
