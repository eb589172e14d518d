// plugin.cpp - the kestcam GStreamer plugin: registers kestcamsrc.
#include <gst/gst.h>

#include "kestcam_src.h"

static gboolean plugin_init(GstPlugin *plugin) {
    return gst_element_register(plugin, "kestcamsrc", GST_RANK_NONE, GST_TYPE_KESTCAM_SRC);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, kestcam, "kestcam camera sources", plugin_init,
                  KESTCAM_VERSION, "Proprietary", "kestcam", "kestcam")
