// allocation_test.cpp - kestcamsrc when downstream answers the allocation query with an upper bound
// on the number of buffers (GStreamer's Python binding cannot write the query). Downstream holds
// every buffer the pool may have, then lets go: the element, waiting in the pool, must go on.
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 64, kHeight = 8;
constexpr guint kBound = 3;                     // buffers downstream allows, and holds at once
constexpr GstClockTime kWait = 60 * GST_SECOND; // turns a hang into a failure on a loaded machine

// Set once the pool logs that it waits for a buffer to come back.
std::mutex g_mutex;
std::condition_variable g_changed;
bool g_poolWaits = false;

void WatchPool(GstDebugCategory *category, GstDebugLevel, const gchar *, const gchar *, gint, GObject *,
               GstDebugMessage *message, gpointer) {
    const gchar *text = gst_debug_message_get(message);
    if (std::string(gst_debug_category_get_name(category)) != "bufferpool" || text == nullptr ||
        std::string(text).find("waiting for free buffers") == std::string::npos)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_poolWaits = true;
    g_changed.notify_all();
}

GstPadProbeReturn AnswerWithABound(GstPad *, GstPadProbeInfo *info, gpointer) {
    GstQuery *query = GST_PAD_PROBE_INFO_QUERY(info);
    if (GST_QUERY_TYPE(query) != GST_QUERY_ALLOCATION) return GST_PAD_PROBE_OK;
    GstCaps *caps = nullptr;
    gst_query_parse_allocation(query, &caps, nullptr);
    GstVideoInfo video;
    if (caps != nullptr && gst_video_info_from_caps(&video, caps))
        gst_query_add_allocation_pool(query, nullptr, video.size, kBound, kBound);
    return GST_PAD_PROBE_OK;
}

// Pulls one image and checks it against the ramp (pixel x, y of frame f is x + 3y + 7f mod 256).
::testing::AssertionResult PullRamp(GstElement *sink, GstSample **out = nullptr) {
    GstSample *sample = nullptr;
    g_signal_emit_by_name(sink, "try-pull-sample", kWait, &sample);
    if (sample == nullptr) return ::testing::AssertionFailure() << "no image within the bound";
    GstMapInfo map;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    int wrong = -1;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        const int frame = (map.data[0] * 183) % 256; // 7 * 183 = 1 mod 256
        wrong = map.size == static_cast<gsize>(kWidth * kHeight) ? 0 : -1;
        for (int i = 0; wrong >= 0 && i < kWidth * kHeight; ++i)
            wrong += map.data[i] != static_cast<guint8>(i % kWidth + 3 * (i / kWidth) + 7 * frame);
        gst_buffer_unmap(buffer, &map);
    }
    if (out != nullptr) {
        *out = sample;
    } else {
        gst_sample_unref(sample);
    }
    if (wrong == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the image is not the ramp (" << wrong << " pixels off)";
}

TEST(BoundedAllocation, TheElementGoesOnWhenDownstreamLetsGoOfAllThePoolMayHave) {
    const std::string config = ::testing::TempDir() + "kestcam-allocation-sim.ini";
    FILE *f = std::fopen(config.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "[System 0]\nDevices = 0\nDigitizers = 1\n[System 0 Digitizer 0]\nWidth = %d\nHeight = %d\n",
                 kWidth, kHeight);
    std::fclose(f);
    setenv("KESTCAM_SIM_CONFIG", config.c_str(), 1);
    gst_init(nullptr, nullptr);
    gst_debug_set_threshold_for_name("bufferpool", GST_LEVEL_LOG);
    gst_debug_remove_log_function(gst_debug_log_default); // the watch only, not the pool's log on stderr
    gst_debug_add_log_function(&WatchPool, nullptr, nullptr);

    const std::string description = "kestcamsrc system-path=\"" + ::testing::TempDir() +
                                    "\" ! appsink name=sink sync=false max-buffers=" + std::to_string(kBound);
    GstElement *pipeline = gst_parse_launch(description.c_str(), nullptr);
    ASSERT_NE(pipeline, nullptr);
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstPad *pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, &AnswerWithABound, nullptr, nullptr);
    gst_object_unref(pad);
    ASSERT_NE(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);

    std::vector<GstSample *> held(kBound, nullptr);
    for (GstSample *&sample : held)
        EXPECT_TRUE(PullRamp(sink, &sample));
    {
        std::unique_lock<std::mutex> lock(g_mutex);
        EXPECT_TRUE(g_changed.wait_for(lock, std::chrono::nanoseconds(kWait), [] { return g_poolWaits; }))
            << "the element never waited in the pool: downstream's bound did not reach it";
    }
    for (GstSample *sample : held)
        if (sample != nullptr) gst_sample_unref(sample);
    for (int i = 0; i < 6 && !HasFailure(); ++i)
        EXPECT_TRUE(PullRamp(sink)) << "image " << i << " after downstream let go of what it held";

    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    gst_debug_remove_log_function(&WatchPool);
}

} // namespace
