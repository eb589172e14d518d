// kestcam_src.cpp - kestcamsrc: start opens the camera through the driver's exports, the caps follow
// the open camera, fill grabs one image per buffer and reads its rows straight into the buffer, stop
// closes the port. The object lock guards only the properties, never a call into the driver.
#include "kestcam_src.h"

#include <dlfcn.h>
#include <gst/video/video.h>

#include <algorithm>
#include <memory>
#include <string>

#include "buffer_pool.h"
#include "driver_session.h"
#include "property_list.h"

#define GST_CAT_DEFAULT (kestcam::gst::DriverSession::Category())

namespace {

constexpr unsigned kDefaultTimeoutMs = 10000;
// The buffers the element prepares at start: one downstream holds (a sink's last image) while the
// next is filled.
constexpr guint kPreparedBuffers = 2;

enum {
    PROP_0,
    PROP_CAMERA,
    PROP_PORT,
    PROP_SYSTEM_PATH,
    PROP_DRIVER,
    PROP_TIMEOUT,
    PROP_PROPERTIES,
};

// The settings a camera reads when it is opened: setting one at start means opening it again.
bool TakesEffectAtOpen(const std::string &name) {
    static const char *const kAtOpen[] = {"HeightMultiplier", "GrabTimeout", "Use16bit", "UseLUT",
                                          "LogLevel",         "LogIntoFile", "Width",    "Height"};
    for (const char *key : kAtOpen) {
        if (g_ascii_strcasecmp(key, name.c_str()) == 0) return true;
    }
    return false;
}

// The driver's reason for the failure just seen, as a sentence's tail.
std::string Reason() {
    std::string reason = kestcam::gst::DriverSession::TakeLastError();
    return reason.empty() ? std::string(" (the driver logged no reason)") : ": " + reason;
}

// What start reads of the properties, copied under the object lock.
struct Settings {
    std::string camera;
    int port = 0;
    std::string systemPath = ".";
    std::string driver;
    unsigned timeoutMs = kDefaultTimeoutMs;
    std::string properties;
};

// The element's state between start and stop, touched by the streaming thread only (and by
// unlock, which only interrupts the waiter).
struct Streaming {
    std::shared_ptr<kestcam::gst::DriverSession> session;
    kestcam::gst::CompletionWaiter waiter;
    bool open = false;
    int port = 0;
    unsigned timeoutMs = kDefaultTimeoutMs;
    int width = 0;
    int rows = 0;
    int bytesPerPixel = 1;
    uint64_t requested = 0; // grabs asked of the driver since start
    uint64_t delivered = 0; // buffers filled since start
    GstVideoInfo info;      // of the negotiated caps
    bool negotiated = false;
    GstBufferPool *pool = nullptr; // prepared at start, active, every page of its buffers written
    gsize poolSize = 0;            // bytes per buffer of pool
};

std::string DefaultDriverPath() {
    // The driver of the plugin's own tree: in the library directory above the plugin directory
    // (installed: <libdir>/gstreamer-1.0/libgstkestcam.so and <libdir>/libkestcam.so; built: the same
    // shape under bin/), else the one the system's loader finds.
    std::string dir = ".";
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&DefaultDriverPath), &info) != 0 && info.dli_fname != nullptr) {
        gchar *d = g_path_get_dirname(info.dli_fname);
        dir = d;
        g_free(d);
    }
    return kestcam::cli::DriverLibrary::SearchFrom(dir, "..");
}

} // namespace

struct _GstKestcamSrc {
    GstPushSrc parent;
    Settings *settings; // guarded by the object lock
    Streaming *streaming;
};

G_DEFINE_TYPE(GstKestcamSrc, gst_kestcam_src, GST_TYPE_PUSH_SRC)

static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ GRAY8, BGR }")));

static void gst_kestcam_src_set_property(GObject *object, guint id, const GValue *value, GParamSpec *pspec) {
    GstKestcamSrc *self = GST_KESTCAM_SRC(object);
    GST_OBJECT_LOCK(self);
    Settings &s = *self->settings;
    const char *text = nullptr;
    switch (id) {
    case PROP_CAMERA:
        text = g_value_get_string(value);
        s.camera = text != nullptr ? text : "";
        break;
    case PROP_PORT:
        s.port = g_value_get_int(value);
        break;
    case PROP_SYSTEM_PATH:
        text = g_value_get_string(value);
        s.systemPath = text != nullptr && *text != '\0' ? text : ".";
        break;
    case PROP_DRIVER:
        text = g_value_get_string(value);
        s.driver = text != nullptr ? text : "";
        break;
    case PROP_TIMEOUT:
        s.timeoutMs = g_value_get_uint(value);
        break;
    case PROP_PROPERTIES:
        text = g_value_get_string(value);
        s.properties = text != nullptr ? text : "";
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

static void gst_kestcam_src_get_property(GObject *object, guint id, GValue *value, GParamSpec *pspec) {
    GstKestcamSrc *self = GST_KESTCAM_SRC(object);
    GST_OBJECT_LOCK(self);
    const Settings &s = *self->settings;
    switch (id) {
    case PROP_CAMERA:
        g_value_set_string(value, s.camera.empty() ? nullptr : s.camera.c_str());
        break;
    case PROP_PORT:
        g_value_set_int(value, s.port);
        break;
    case PROP_SYSTEM_PATH:
        g_value_set_string(value, s.systemPath.c_str());
        break;
    case PROP_DRIVER:
        g_value_set_string(value, s.driver.empty() ? nullptr : s.driver.c_str());
        break;
    case PROP_TIMEOUT:
        g_value_set_uint(value, s.timeoutMs);
        break;
    case PROP_PROPERTIES:
        g_value_set_string(value, s.properties.empty() ? nullptr : s.properties.c_str());
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

// The prepared pool's buffers go back to the system as downstream lets go of them.
static void DropPreparedPool(Streaming &st) {
    if (st.pool == nullptr) return;
    gst_buffer_pool_set_active(st.pool, FALSE);
    gst_object_unref(st.pool);
    st.pool = nullptr;
}

static void CloseCamera(GstKestcamSrc *self) {
    Streaming &st = *self->streaming;
    if (st.open) {
        st.session->Route(st.port, nullptr);
        st.session->Exports().closeCVLPort(0, st.port);
        st.open = false;
        GST_INFO_OBJECT(self, "camera closed on port %d", st.port);
    }
    st.waiter.UseClock(nullptr);
    st.session.reset();
    // Streaming has ended (stop, a failed start, finalize).
    DropPreparedPool(st);
}

// The caps of the open camera.
static GstCaps *CameraCaps(const Streaming &st) {
    GstVideoInfo info;
    gst_video_info_set_format(&info, st.bytesPerPixel == 3 ? GST_VIDEO_FORMAT_BGR : GST_VIDEO_FORMAT_GRAY8,
                              st.width, st.rows);
    info.fps_n = 0; // a camera's frame rate is whatever its grabs take
    info.fps_d = 1;
    return gst_video_info_to_caps(&info);
}

// Makes the pool the images go to unless downstream brings its own: its buffers are allocated, every
// page of them backed, while the element starts rather than in the first images of the stream.
// Nothing is lost if this fails: negotiation makes a pool as it would have.
static void PreparePool(GstKestcamSrc *self) {
    Streaming &st = *self->streaming;
    GstCaps *caps = CameraCaps(st);
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps)) {
        gst_caps_unref(caps);
        return;
    }
    GstBufferPool *pool = kestcam_buffer_pool_new();
    GstStructure *config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_set_params(config, caps, info.size, kPreparedBuffers, 0);
    gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
    gst_caps_unref(caps);
    if (!gst_buffer_pool_set_config(pool, config) || !gst_buffer_pool_set_active(pool, TRUE)) {
        GST_WARNING_OBJECT(self, "could not prepare a pool of %u buffers of %zu bytes", kPreparedBuffers,
                           static_cast<size_t>(info.size));
        gst_object_unref(pool);
        return;
    }
    st.pool = pool;
    st.poolSize = info.size;
}

static bool OpenPort(GstKestcamSrc *self, const std::string &camera) {
    Streaming &st = *self->streaming;
    int geometry[2] = {0, 0};
    kestcam::gst::DriverSession::TakeLastError();
    if (st.session->Exports().openCVLPort(0, st.port, camera.c_str(), geometry) != 1) {
        const std::string reason = Reason();
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ,
                          ("Could not open camera \"%s\" on port %d.", camera.c_str(), st.port),
                          ("openCVLPort failed%s", reason.c_str()));
        return false;
    }
    st.open = true;
    st.width = geometry[0];
    st.rows = geometry[1];
    return true;
}

static gboolean gst_kestcam_src_start(GstBaseSrc *base) {
    GstKestcamSrc *self = GST_KESTCAM_SRC(base);
    GST_OBJECT_LOCK(self);
    const Settings s = *self->settings;
    GST_OBJECT_UNLOCK(self);
    Streaming &st = *self->streaming;
    st.port = s.port;
    st.timeoutMs = std::max(1u, s.timeoutMs);
    st.requested = st.delivered = 0;
    st.negotiated = false;
    st.waiter.Resume();

    kestcam::gst::PropertyList properties;
    std::string error;
    if (!kestcam::gst::ParsePropertyList(s.properties, properties, error)) {
        GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("Invalid properties \"%s\".", s.properties.c_str()),
                          ("%s", error.c_str()));
        return FALSE;
    }
    const std::string driver = s.driver.empty() ? DefaultDriverPath() : s.driver;
    st.session = kestcam::gst::DriverSession::Acquire(driver, s.systemPath, error);
    if (!st.session) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("Could not load the kestcam driver %s.", driver.c_str()),
                          ("%s", error.c_str()));
        return FALSE;
    }

    // The camera must be one the driver serves; the default is the first.
    const kestcam::cli::DriverExports &d = st.session->Exports();
    std::string camera = s.camera, served;
    bool found = false;
    if (char **names = d.getCVLCameraConfigNames()) {
        for (int i = 0; names[i] != nullptr; ++i) {
            if (camera.empty()) camera = names[i];
            found = found || camera == names[i];
            served += (served.empty() ? "" : ", ") + std::string(names[i]);
        }
    }
    if (!found) {
        GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND,
                          (camera.empty() ? "The driver serves no camera." : "No camera named \"%s\".",
                           camera.c_str()),
                          ("cameras served: %s", served.empty() ? "none" : served.c_str()));
        CloseCamera(self);
        return FALSE;
    }
    if (!OpenPort(self, camera)) {
        CloseCamera(self);
        return FALSE;
    }

    bool reopen = false;
    for (const auto &[name, value] : properties) {
        kestcam::gst::DriverSession::TakeLastError();
        if (d.setProperty == nullptr || d.setProperty(0, st.port, name.c_str(), value) != 1) {
            const std::string reason = Reason();
            GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS,
                              ("Camera \"%s\" refused property %s=%d.", camera.c_str(), name.c_str(), value),
                              ("setProperty failed%s", reason.c_str()));
            CloseCamera(self);
            return FALSE;
        }
        reopen = reopen || TakesEffectAtOpen(name);
    }
    if (reopen) {
        // Closing stores the settings; opening again reads them.
        d.closeCVLPort(0, st.port);
        st.open = false;
        if (!OpenPort(self, camera)) {
            CloseCamera(self);
            return FALSE;
        }
    }
    if (st.width <= 0 || st.rows <= 0) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("Camera \"%s\" reported no image size.", camera.c_str()),
                          ("openCVLPort gave %d x %d", st.width, st.rows));
        CloseCamera(self);
        return FALSE;
    }
    st.bytesPerPixel = kestcam::cli::CameraBytesPerPixel(d, st.port, st.width);
    if (!st.session->Route(st.port, &st.waiter)) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("Camera \"%s\" takes no completion callback.", camera.c_str()),
                          ("setCompleteCallback failed%s", Reason().c_str()));
        CloseCamera(self);
        return FALSE;
    }
    GST_INFO_OBJECT(self, "camera \"%s\" open on port %d: %d x %d, %d byte(s) per pixel", camera.c_str(), st.port,
                    st.width, st.rows, st.bytesPerPixel);
    PreparePool(self);
    return TRUE;
}

static gboolean gst_kestcam_src_stop(GstBaseSrc *base) {
    CloseCamera(GST_KESTCAM_SRC(base));
    return TRUE;
}

static GstCaps *gst_kestcam_src_get_caps(GstBaseSrc *base, GstCaps *filter) {
    GstKestcamSrc *self = GST_KESTCAM_SRC(base);
    const Streaming &st = *self->streaming;
    GstCaps *caps;
    // start sets the geometry before the pad is activated, stop clears it after deactivation: caps
    // are asked only in between.
    if (st.open) {
        caps = CameraCaps(st);
    } else {
        caps = gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(base));
    }
    if (filter != nullptr) {
        GstCaps *both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

static gboolean gst_kestcam_src_decide_allocation(GstBaseSrc *base, GstQuery *query) {
    GstCaps *caps = nullptr;
    gst_query_parse_allocation(query, &caps, nullptr);
    GstKestcamSrc *self = GST_KESTCAM_SRC(base);
    Streaming &st = *self->streaming;
    GstVideoInfo &info = st.info;
    st.negotiated = caps != nullptr && gst_video_info_from_caps(&info, caps);
    if (!st.negotiated) return FALSE;
    GstBufferPool *pool = nullptr;
    guint size = 0, min = 0, max = 0;
    const bool update = gst_query_get_n_allocation_pools(query) > 0;
    if (update) {
        gst_query_parse_nth_allocation_pool(query, 0, &pool, &size, &min, &max);
        size = std::max<guint>(size, info.size);
    } else {
        size = info.size;
    }
    // The prepared pool serves unless downstream brings a pool or asks for more buffers than it holds.
    if (pool == nullptr && st.pool != nullptr && size == st.poolSize && min <= kPreparedBuffers &&
        (max == 0 || max >= kPreparedBuffers)) {
        if (update) {
            gst_query_set_nth_allocation_pool(query, 0, st.pool, size, kPreparedBuffers, 0);
        } else {
            gst_query_add_allocation_pool(query, st.pool, size, kPreparedBuffers, 0);
        }
        // Already configured and active: the base class would only try to configure it again.
        return TRUE;
    }
    // Downstream's pool serves, or one of the size and number it asks for.
    DropPreparedPool(st);
    if (pool == nullptr) pool = kestcam_buffer_pool_new();
    GstStructure *config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_set_params(config, caps, size, min, max);
    if (gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr))
        gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
    gst_buffer_pool_set_config(pool, config);
    if (update) {
        gst_query_set_nth_allocation_pool(query, 0, pool, size, min, max);
    } else {
        gst_query_add_allocation_pool(query, pool, size, min, max);
    }
    gst_object_unref(pool);
    return GST_BASE_SRC_CLASS(gst_kestcam_src_parent_class)->decide_allocation(base, query);
}

static gboolean gst_kestcam_src_unlock(GstBaseSrc *base) {
    GST_KESTCAM_SRC(base)->streaming->waiter.Interrupt();
    return TRUE;
}

static gboolean gst_kestcam_src_unlock_stop(GstBaseSrc *base) {
    GST_KESTCAM_SRC(base)->streaming->waiter.Resume();
    return TRUE;
}

static GstFlowReturn gst_kestcam_src_fill(GstPushSrc *src, GstBuffer *buffer) {
    GstKestcamSrc *self = GST_KESTCAM_SRC(src);
    Streaming &st = *self->streaming;
    const kestcam::cli::DriverExports &d = st.session->Exports();
    GstClock *clock = gst_element_get_clock(GST_ELEMENT(self));
    st.waiter.UseClock(clock);
    if (clock != nullptr) gst_object_unref(clock);

    // A grab asked for before a flush is still running: its image is the next one.
    const uint64_t completed = st.waiter.Completed();
    if (completed >= st.requested) {
        kestcam::gst::DriverSession::TakeLastError();
        // Counted before the request: the completion may come before doCVLGrab returns.
        st.requested = completed + 1;
        if (d.doCVLGrab(0, st.port) != 1) {
            GST_ELEMENT_ERROR(self, RESOURCE, READ, ("The camera refused a grab."),
                              ("doCVLGrab failed%s", Reason().c_str()));
            st.requested = completed;
            return GST_FLOW_ERROR;
        }
    }
    switch (st.waiter.WaitBeyond(st.requested - 1, st.timeoutMs)) {
    case kestcam::gst::CompletionWaiter::Wait::Interrupted:
        return GST_FLOW_FLUSHING;
    case kestcam::gst::CompletionWaiter::Wait::TimedOut:
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("No image within %u ms.", st.timeoutMs),
                          ("the grab did not complete%s", Reason().c_str()));
        return GST_FLOW_ERROR;
    case kestcam::gst::CompletionWaiter::Wait::Completed:
        break;
    }

    GstVideoFrame frame;
    if (!st.negotiated || !gst_video_frame_map(&frame, &st.info, buffer, GST_MAP_WRITE)) {
        GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("Could not map the output buffer."), (nullptr));
        return GST_FLOW_ERROR;
    }
    guint8 *pixels = static_cast<guint8 *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    int failedRow = -1;
    for (int row = 0; row < st.rows && failedRow < 0; ++row) {
        if (d.getCVLGrabRow(0, st.port, pixels + static_cast<size_t>(stride) * row, row, 0, st.width - 1) != 1)
            failedRow = row;
    }
    gst_video_frame_unmap(&frame);
    if (failedRow >= 0) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Row %d of the image could not be read.", failedRow),
                          ("getCVLGrabRow failed%s", Reason().c_str()));
        return GST_FLOW_ERROR;
    }

    const GstClockTime when = st.waiter.LastCompletion();
    const GstClockTime base = gst_element_get_base_time(GST_ELEMENT(self));
    GST_BUFFER_PTS(buffer) = GST_CLOCK_TIME_IS_VALID(when) && when >= base ? when - base : GST_CLOCK_TIME_NONE;
    GST_BUFFER_DTS(buffer) = GST_BUFFER_PTS(buffer);
    GST_LOG_OBJECT(self, "image %" G_GUINT64_FORMAT " in buffer %p", st.delivered, static_cast<void *>(buffer));
    GST_BUFFER_OFFSET(buffer) = st.delivered;
    GST_BUFFER_OFFSET_END(buffer) = st.delivered + 1;
    ++st.delivered;
    return GST_FLOW_OK;
}

static void gst_kestcam_src_finalize(GObject *object) {
    GstKestcamSrc *self = GST_KESTCAM_SRC(object);
    CloseCamera(self);
    delete self->streaming;
    delete self->settings;
    G_OBJECT_CLASS(gst_kestcam_src_parent_class)->finalize(object);
}

static void gst_kestcam_src_init(GstKestcamSrc *self) {
    self->settings = new Settings();
    self->streaming = new Streaming();
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

static void gst_kestcam_src_class_init(GstKestcamSrcClass *klass) {
    GObjectClass *gobject = G_OBJECT_CLASS(klass);
    GstElementClass *element = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass *base = GST_BASE_SRC_CLASS(klass);
    GstPushSrcClass *push = GST_PUSH_SRC_CLASS(klass);
    kestcam::gst::DriverSession::Category();

    gobject->set_property = gst_kestcam_src_set_property;
    gobject->get_property = gst_kestcam_src_get_property;
    gobject->finalize = gst_kestcam_src_finalize;
    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                GST_PARAM_MUTABLE_READY);
    g_object_class_install_property(
        gobject, PROP_CAMERA,
        g_param_spec_string("camera", "Camera", "Name of the camera to open (default: the first the driver serves)",
                            nullptr, flags));
    g_object_class_install_property(
        gobject, PROP_PORT,
        g_param_spec_int("port", "Port", "Port number the camera is bound to", 0, G_MAXINT, 0, flags));
    g_object_class_install_property(
        gobject, PROP_SYSTEM_PATH,
        g_param_spec_string("system-path", "System path",
                            "Folder of the driver's settings file Kest.ini (and its logs)", ".", flags));
    g_object_class_install_property(
        gobject, PROP_DRIVER,
        g_param_spec_string("driver", "Driver", "Path of the driver library (default: the installed libkestcam.so)",
                            nullptr, flags));
    g_object_class_install_property(
        gobject, PROP_TIMEOUT,
        g_param_spec_uint("timeout", "Timeout", "Milliseconds one grab may take before the element fails", 1,
                          G_MAXUINT, kDefaultTimeoutMs, flags));
    g_object_class_install_property(
        gobject, PROP_PROPERTIES,
        g_param_spec_string("properties", "Properties",
                            "Camera properties set at start, as NAME=VALUE,... (e.g. \"ExposureTime=250,Gain=2\")",
                            nullptr, flags));

    gst_element_class_set_static_metadata(element, "kestcam camera source", "Source/Video",
                                          "Grabs images from a camera through the kestcam driver", "kestcam");
    gst_element_class_add_static_pad_template(element, &src_template);

    base->start = gst_kestcam_src_start;
    base->stop = gst_kestcam_src_stop;
    base->get_caps = gst_kestcam_src_get_caps;
    base->decide_allocation = gst_kestcam_src_decide_allocation;
    base->unlock = gst_kestcam_src_unlock;
    base->unlock_stop = gst_kestcam_src_unlock_stop;
    push->fill = gst_kestcam_src_fill;
}
