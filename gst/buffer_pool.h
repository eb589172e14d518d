// buffer_pool.h - the pool kestcamsrc fills: a video buffer pool that hands out the buffer released
// last, and backs every page of a buffer with memory as it allocates it.
#pragma once

#include <gst/video/video.h>

G_BEGIN_DECLS

#define KESTCAM_TYPE_BUFFER_POOL (kestcam_buffer_pool_get_type())
G_DECLARE_FINAL_TYPE(KestcamBufferPool, kestcam_buffer_pool, KESTCAM, BUFFER_POOL, GstVideoBufferPool)

GstBufferPool *kestcam_buffer_pool_new();

G_END_DECLS
