// allocation_test.cpp - kestcamsrc under the answers downstream may give to the allocation query,
// which GStreamer's Python binding cannot write: a pool of downstream's own, or a number of buffers
// with an upper bound for the element's pool. Either way every image arrives, equal to the ramp, also
// when downstream holds as many images as the pool may hold and lets go of them only then.
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 64, kHeight = 8;
constexpr GstClockTime kBound = 60 * GST_SECOND; // turns a hang into a failure on a loaded machine

struct Answer {
    const char *name;
    bool ownPool; // downstream brings a pool of its own, else only sizes and numbers
    guint min, max;
};
void PrintTo(const Answer &answer, std::ostream *os) { *os << answer.name; }

// Holds the bounded pool's message that it waits for a buffer to come back: the element then has
// acquired every buffer the pool may have.
struct PoolWait {
    std::mutex mutex;
    std::condition_variable seen;
    bool waiting = false;
};
PoolWait g_poolWait;

void WatchPool(GstDebugCategory *category, GstDebugLevel, const gchar *, const gchar *, gint, GObject *,
               GstDebugMessage *message, gpointer) {
    if (std::string(gst_debug_category_get_name(category)) != "bufferpool") return;
    const gchar *text = gst_debug_message_get(message);
    if (text == nullptr || std::string(text).find("waiting for free buffers") == std::string::npos) return;
    std::lock_guard<std::mutex> lock(g_poolWait.mutex);
    g_poolWait.waiting = true;
    g_poolWait.seen.notify_all();
}

class Allocation : public ::testing::TestWithParam<Answer> {
protected:
    static void SetUpTestSuite() {
        const std::string config = ::testing::TempDir() + "kestcam-allocation-sim.ini";
        FILE *f = std::fopen(config.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fprintf(f, "[System 0]\nDevices = 0\nDigitizers = 1\n[System 0 Digitizer 0]\nWidth = %d\nHeight = %d\n",
                     kWidth, kHeight);
        std::fclose(f);
        setenv("KESTCAM_SIM_CONFIG", config.c_str(), 1);
        gst_init(nullptr, nullptr);
        gst_debug_set_threshold_for_name("bufferpool", GST_LEVEL_LOG);
        gst_debug_add_log_function(&WatchPool, nullptr, nullptr);
    }

    static GstPadProbeReturn Answer(GstPad *, GstPadProbeInfo *info, gpointer data) {
        GstQuery *query = GST_PAD_PROBE_INFO_QUERY(info);
        if (GST_QUERY_TYPE(query) != GST_QUERY_ALLOCATION) return GST_PAD_PROBE_OK;
        auto *self = static_cast<Allocation *>(data);
        const ::Answer &answer = self->GetParam();
        GstCaps *caps = nullptr;
        gst_query_parse_allocation(query, &caps, nullptr);
        GstVideoInfo video;
        if (caps == nullptr || !gst_video_info_from_caps(&video, caps)) return GST_PAD_PROBE_OK;
        GstBufferPool *pool = nullptr;
        if (answer.ownPool) {
            pool = gst_video_buffer_pool_new();
            self->downstreamPool_ = pool;
        }
        gst_query_add_allocation_pool(query, pool, video.size, answer.min, answer.max);
        if (pool != nullptr) gst_object_unref(pool);
        return GST_PAD_PROBE_OK;
    }

    // The next image, or null after the bound.
    GstSample *Pull() {
        GstSample *sample = nullptr;
        g_signal_emit_by_name(sink_, "try-pull-sample", kBound, &sample);
        return sample;
    }

    void ExpectRamp(GstSample *sample) {
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
        if (GetParam().ownPool) {
            EXPECT_EQ(buffer->pool, downstreamPool_) << "not a buffer of downstream's pool";
        }
    }

    void TearDown() override {
        if (pipeline_ != nullptr) {
            gst_element_set_state(pipeline_, GST_STATE_NULL);
            gst_object_unref(pipeline_);
        }
    }

    GstElement *pipeline_ = nullptr;
    GstElement *sink_ = nullptr;
    GstBufferPool *downstreamPool_ = nullptr; // compared only, the pipeline holds it
};

TEST_P(Allocation, EveryImageArrivesEqualToTheRampWhileDownstreamHoldsAllThePoolMayHold) {
    const guint held = GetParam().max != 0 ? GetParam().max : 3;
    const std::string description = "kestcamsrc system-path=\"" + ::testing::TempDir() +
                                    "\" ! appsink name=sink sync=false max-buffers=" + std::to_string(held);
    GError *error = nullptr;
    pipeline_ = gst_parse_launch(description.c_str(), &error);
    ASSERT_NE(pipeline_, nullptr) << (error != nullptr ? error->message : "");
    sink_ = gst_bin_get_by_name(GST_BIN(pipeline_), "sink");
    GstPad *pad = gst_element_get_static_pad(sink_, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, &Allocation::Answer, this, nullptr);
    gst_object_unref(pad);
    gst_object_unref(sink_); // the pipeline holds it
    {
        std::lock_guard<std::mutex> lock(g_poolWait.mutex);
        g_poolWait.waiting = false;
    }
    ASSERT_NE(gst_element_set_state(pipeline_, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);

    std::vector<GstSample *> samples;
    for (guint i = 0; i < held; ++i) {
        samples.push_back(Pull());
        ASSERT_NE(samples.back(), nullptr) << "image " << i << " did not arrive";
        ExpectRamp(samples.back());
    }
    if (GetParam().max != 0) {
        // Downstream holds every buffer of the bounded pool: the element waits in the pool for one.
        std::unique_lock<std::mutex> lock(g_poolWait.mutex);
        ASSERT_TRUE(g_poolWait.seen.wait_for(lock, std::chrono::seconds(60), [] { return g_poolWait.waiting; }));
    }
    for (GstSample *sample : samples)
        gst_sample_unref(sample);
    for (int i = 0; i < 6; ++i) {
        GstSample *sample = Pull();
        ASSERT_NE(sample, nullptr) << "no image after downstream let go of what it held";
        ExpectRamp(sample);
        gst_sample_unref(sample);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, Allocation,
                         ::testing::Values(Answer{"DownstreamBringsItsPool", true, 2, 0},
                                           Answer{"MoreBuffersThanTheElementPrepares", false, 4, 0},
                                           Answer{"ABoundedNumberOfBuffers", false, 3, 3}),
                         [](const ::testing::TestParamInfo<Answer> &info) { return std::string(info.param.name); });

} // namespace
