// kestcam_src.h - kestcamsrc, a live GStreamer source that grabs a kestcam camera continuously.
#pragma once

#include <gst/base/gstpushsrc.h>

G_BEGIN_DECLS

#define GST_TYPE_KESTCAM_SRC (gst_kestcam_src_get_type())
G_DECLARE_FINAL_TYPE(GstKestcamSrc, gst_kestcam_src, GST, KESTCAM_SRC, GstPushSrc)

G_END_DECLS
