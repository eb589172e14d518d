// buffer_pool.cpp - GstBufferPool hands its free buffers out first in, first out: with two free, the
// images alternate between them even when downstream holds none. An image of 8160x1000 is 8 MB;
// written into the buffer written last it finds much of it still in the cache, while the other one
// has been pushed out by the image since. So the free buffers here are a stack, for a pool of no
// upper bound: a bounded pool waits for a release inside the base class, which only a buffer
// released to the base class ends, so such a pool is the base class's own.
#include "buffer_pool.h"

#include <mutex>
#include <vector>

#include "driver_session.h"

#define GST_CAT_DEFAULT (kestcam::gst::DriverSession::Category())

namespace {

struct FreeBuffers {
    std::mutex mutex;
    std::vector<GstBuffer *> stack; // the one released last on top
    gsize size = 0;                 // of the pool's buffers, as configured
    bool bounded = false;           // a maximum number of buffers is configured: no stack
};

} // namespace

struct _KestcamBufferPool {
    GstVideoBufferPool parent;
    FreeBuffers *free;
};

G_DEFINE_TYPE(KestcamBufferPool, kestcam_buffer_pool, GST_TYPE_VIDEO_BUFFER_POOL)

static GstBufferPoolClass *Parent() {
    return GST_BUFFER_POOL_CLASS(kestcam_buffer_pool_parent_class);
}

static gboolean kestcam_buffer_pool_set_config(GstBufferPool *pool, GstStructure *config) {
    guint size = 0, max = 0;
    gst_buffer_pool_config_get_params(config, nullptr, &size, nullptr, &max);
    if (!Parent()->set_config(pool, config)) return FALSE;
    // Configured only while inactive: no buffer is on the stack.
    KESTCAM_BUFFER_POOL(pool)->free->size = size;
    KESTCAM_BUFFER_POOL(pool)->free->bounded = max != 0;
    return TRUE;
}

// The first touch of a page is a fault, and the faults of an 8 MB buffer took about 20 ms on a
// virtual machine, as long as some fifty images took to copy: they are taken here, where the pool
// is activated (at the element's start), not in the first images of the stream.
static GstFlowReturn kestcam_buffer_pool_alloc_buffer(GstBufferPool *pool, GstBuffer **buffer,
                                                      GstBufferPoolAcquireParams *params) {
    const GstFlowReturn result = Parent()->alloc_buffer(pool, buffer, params);
    if (result != GST_FLOW_OK) return result;
    for (guint i = 0; i < gst_buffer_n_memory(*buffer); ++i) {
        GstMemory *memory = gst_buffer_peek_memory(*buffer, i);
        GstMapInfo map;
        if (!gst_memory_map(memory, &map, GST_MAP_WRITE)) continue;
        // One byte in every 4096: each page at least once, whatever the page size.
        for (gsize at = 0; at < map.size; at += 4096)
            map.data[at] = 0;
        gst_memory_unmap(memory, &map);
    }
    GST_LOG_OBJECT(pool, "allocated buffer %p", static_cast<void *>(*buffer));
    return result;
}

static GstFlowReturn kestcam_buffer_pool_acquire_buffer(GstBufferPool *pool, GstBuffer **buffer,
                                                        GstBufferPoolAcquireParams *params) {
    FreeBuffers &free = *KESTCAM_BUFFER_POOL(pool)->free;
    if (!free.bounded && !GST_BUFFER_POOL_IS_FLUSHING(pool)) {
        std::lock_guard<std::mutex> lock(free.mutex);
        if (!free.stack.empty()) {
            *buffer = free.stack.back();
            free.stack.pop_back();
            return GST_FLOW_OK;
        }
    }
    // None free (or flushing): the base class allocates one, waits for one or refuses.
    return Parent()->acquire_buffer(pool, buffer, params);
}

static void kestcam_buffer_pool_release_buffer(GstBufferPool *pool, GstBuffer *buffer) {
    FreeBuffers &free = *KESTCAM_BUFFER_POOL(pool)->free;
    // What the base class would keep: memory neither replaced nor shared, the size as configured.
    // Anything else goes to it, which frees it.
    if (!free.bounded && !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_TAG_MEMORY) &&
        gst_buffer_get_size(buffer) == free.size && gst_buffer_is_all_memory_writable(buffer)) {
        std::lock_guard<std::mutex> lock(free.mutex);
        free.stack.push_back(buffer);
        return;
    }
    Parent()->release_buffer(pool, buffer);
}

static gboolean kestcam_buffer_pool_stop(GstBufferPool *pool) {
    // The base class frees the buffers it holds: it is handed the ones held here first.
    FreeBuffers &free = *KESTCAM_BUFFER_POOL(pool)->free;
    std::vector<GstBuffer *> held;
    {
        std::lock_guard<std::mutex> lock(free.mutex);
        held.swap(free.stack);
    }
    for (GstBuffer *buffer : held)
        Parent()->release_buffer(pool, buffer);
    return Parent()->stop(pool);
}

static void kestcam_buffer_pool_finalize(GObject *object) {
    delete KESTCAM_BUFFER_POOL(object)->free;
    G_OBJECT_CLASS(kestcam_buffer_pool_parent_class)->finalize(object);
}

static void kestcam_buffer_pool_init(KestcamBufferPool *self) {
    self->free = new FreeBuffers();
}

static void kestcam_buffer_pool_class_init(KestcamBufferPoolClass *klass) {
    GObjectClass *gobject = G_OBJECT_CLASS(klass);
    GstBufferPoolClass *pool = GST_BUFFER_POOL_CLASS(klass);
    gobject->finalize = kestcam_buffer_pool_finalize;
    pool->set_config = kestcam_buffer_pool_set_config;
    pool->alloc_buffer = kestcam_buffer_pool_alloc_buffer;
    pool->acquire_buffer = kestcam_buffer_pool_acquire_buffer;
    pool->release_buffer = kestcam_buffer_pool_release_buffer;
    pool->stop = kestcam_buffer_pool_stop;
}

GstBufferPool *kestcam_buffer_pool_new() {
    return GST_BUFFER_POOL(g_object_ref_sink(g_object_new(KESTCAM_TYPE_BUFFER_POOL, nullptr)));
}
