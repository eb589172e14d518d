// allocation_test.cpp - kestcamsrc when downstream answers the allocation query with an upper bound
// on the number of buffers, which GStreamer's Python binding cannot write (it holds a reference to
// the query). Downstream holds every buffer the pool may have, then lets go: the element, waiting in
// the pool, must go on, and every image equals the ramp.
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
constexpr guint kBound = 3;                        // buffers downstream allows, and holds at once
constexpr GstClockTime kWait = 60 * GST_SECOND;    // turns a hang into a failure on a loaded machine

// The pool's message that it waits for a buffer to come back: the element then has every buffer
// the pool may have out.
struct PoolWait {
    std::mutex mutex;
    std::condition_variable seen;
    bool waiting = false;
} g_poolWait;

void WatchPool(GstDebugCategory *category, GstDebugLevel, const gchar *, const gchar *, gint, GObject *,
               GstDebugMessage *message, gpointer) {
    if (std::string(gst_debug_category_get_name(category)) != "bufferpool") return;
    const gchar *text = gst_debug_message_get(message);
    if (text == nullptr || std::string(text).find("waiting for free buffers") == std::string::npos) return;
    std::lock_guard<std::mutex> lock(g_poolWait.mutex);
    g_poolWait.waiting = true;
    g_poolWait.seen.notify_all();
}

// Adds kBound buffers, at least and at most, of the caps' size and no pool to the query.
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

class BoundedAllocation : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string config = ::testing::TempDir() + "kestcam-allocation-sim.ini";
        FILE *f = std::fopen(config.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fprintf(f, "[System 0]\nDevices = 0\nDigitizers = 1\n[System 0 Digitizer 0]\nWidth = %d\nHeight = %d\n",
                     kWidth, kHeight);
        std::fclose(f);
        setenv("KESTCAM_SIM_CONFIG", config.c_str(), 1);
        gst_init(nullptr, nullptr);
        gst_debug_set_threshold_for_name("bufferpool", GST_LEVEL_LOG);
        gst_debug_remove_log_function(gst_debug_log_default); // only the watch, not the pool's log on stderr
        gst_debug_add_log_function(&WatchPool, nullptr, nullptr);
    }

    void TearDown() override {
        gst_debug_remove_log_function(&WatchPool);
        if (pipeline_ != nullptr) {
            gst_element_set_state(pipeline_, GST_STATE_NULL);
            gst_object_unref(pipeline_);
        }
    }

    // The next image, or null after the bound.
    GstSample *Pull() {
        GstSample *sample = nullptr;
        g_signal_emit_by_name(sink_, "try-pull-sample", kWait, &sample);
        return sample;
    }

    static void ExpectRamp(GstSample *sample) {
        GstBuffer *buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        ASSERT_TRUE(gst_buffer_map(buffer, &map, GST_MAP_READ));
        ASSERT_EQ(map.size, static_cast<gsize>(kWidth * kHeight));
        // The frame number from pixel (0, 0): 7 f mod 256, and 7 * 183 = 1 mod 256.
        const int frame = (map.data[0] * 183) % 256;
        int wrong = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                wrong += map.data[y * kWidth + x] != static_cast<guint8>(x + 3 * y + 7 * frame);
        gst_buffer_unmap(buffer, &map);
        EXPECT_EQ(wrong, 0) << "pixels off the ramp in frame " << frame;
    }

    GstElement *pipeline_ = nullptr;
    GstElement *sink_ = nullptr; // the pipeline holds it
};

TEST_F(BoundedAllocation, TheElementGoesOnWhenDownstreamLetsGoOfAllThePoolMayHave) {
    const std::string description = "kestcamsrc system-path=\"" + ::testing::TempDir() +
                                    "\" ! appsink name=sink sync=false max-buffers=" + std::to_string(kBound);
    GError *error = nullptr;
    pipeline_ = gst_parse_launch(description.c_str(), &error);
    ASSERT_NE(pipeline_, nullptr) << (error != nullptr ? error->message : "");
    sink_ = gst_bin_get_by_name(GST_BIN(pipeline_), "sink");
    gst_object_unref(sink_);
    GstPad *pad = gst_element_get_static_pad(sink_, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, &AnswerWithABound, nullptr, nullptr);
    gst_object_unref(pad);
    ASSERT_NE(gst_element_set_state(pipeline_, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);

    std::vector<GstSample *> held;
    for (guint i = 0; i < kBound; ++i) {
        held.push_back(Pull());
        ASSERT_NE(held.back(), nullptr) << "image " << i << " did not arrive";
        ExpectRamp(held.back());
    }
    {
        std::unique_lock<std::mutex> lock(g_poolWait.mutex);
        ASSERT_TRUE(g_poolWait.seen.wait_for(lock, std::chrono::nanoseconds(kWait), [] { return g_poolWait.waiting; }))
            << "the element never waited in the pool: downstream's bound did not reach it";
    }
    for (GstSample *sample : held)
        gst_sample_unref(sample);
    for (int i = 0; i < 6; ++i) {
        GstSample *sample = Pull();
        ASSERT_NE(sample, nullptr) << "no image after downstream let go of what it held";
        ExpectRamp(sample);
        gst_sample_unref(sample);
    }
}

} // namespace
