// stream_command.cpp - `kestcam stream --camera NAME [--port N] [--listen ADDR:PORT] [--path /NAME]
// [--codec raw|jpeg|h264]`: an RTSP server (gst-rtsp-server) whose one shared media grabs the camera
// with kestcamsrc, so that every client reads the same grab loop and a client leaving costs the
// camera nothing. The element is registered in this process; the driver stays initialized while the
// command runs.
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <glib-unix.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "commands.h"
#include "listen_address.h"
#include "driver_session.h"
#include "kestcam_src.h"

namespace kestcam::cli {

namespace {

struct StreamArgs {
    std::string camera;
    int port = 0;
    std::string host = "127.0.0.1";
    int listenPort = 8554;
    std::string path = "/camera";
    std::string codec = "h264";
};

bool ParseNumber(const std::string &text, int low, int high, int &out) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    out = std::atoi(text.c_str());
    return out >= low && out <= high;
}

bool ParseStreamArgs(const std::vector<std::string> &args, StreamArgs &parsed) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--camera" && hasValue) {
            parsed.camera = args[++i];
        } else if (a == "--port" && hasValue) {
            if (!ParseNumber(args[++i], 0, 1 << 30, parsed.port)) return false;
        } else if (a == "--listen" && hasValue) {
            if (!ParseListenAddress(args[++i], parsed.host, parsed.listenPort)) return false;
        } else if (a == "--path" && hasValue) {
            parsed.path = args[++i];
            if (parsed.path.size() < 2 || parsed.path[0] != '/' ||
                parsed.path.find_first_of(" \"?#") != std::string::npos)
                return false;
        } else if (a == "--codec" && hasValue) {
            parsed.codec = args[++i];
            if (parsed.codec != "raw" && parsed.codec != "jpeg" && parsed.codec != "h264") return false;
        } else {
            return false;
        }
    }
    return !parsed.camera.empty();
}

// A property value quoted for a launch description.
std::string Quoted(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// What follows the source for each codec. RTP raw video has no grey format: a monochrome image
// travels as RGB with the sample in all three, which converts back to grey unchanged. Not as the luma
// of a YUV format: above 576 rows GStreamer gives YUV video-range colorimetry by default, and grey
// squeezed into 16 to 235 and stretched back loses values.
std::string Payloader(const std::string &codec, bool colour) {
    if (codec == "raw")
        return colour ? "rtpvrawpay name=pay0 pt=96"
                      : "videoconvert ! video/x-raw,format=RGB ! rtpvrawpay name=pay0 pt=96";
    if (codec == "jpeg") return "videoconvert ! video/x-raw,format=I420 ! jpegenc ! rtpjpegpay name=pay0 pt=26";
    return "videoconvert ! video/x-raw,format=I420 ! x264enc tune=zerolatency speed-preset=ultrafast "
           "key-int-max=30 ! rtph264pay name=pay0 pt=96 config-interval=-1";
}

// Every media the factory made that has not stopped yet, so that each is stopped (its camera closed)
// before the driver goes. A media that stopped on its own (its last client gone) leaves the list: a
// server that runs for weeks keeps no pipeline per client that came and went.
struct Medias {
    std::mutex mutex;
    std::vector<GstRTSPMedia *> made;
};

// Emitted with the media's pipeline stopped, under the media's state lock.
void OnMediaUnprepared(GstRTSPMedia *media, gpointer data) {
    auto *medias = static_cast<Medias *>(data);
    g_signal_handlers_disconnect_by_data(media, data);
    std::lock_guard<std::mutex> lock(medias->mutex);
    const auto it = std::find(medias->made.begin(), medias->made.end(), media);
    if (it == medias->made.end()) return; // the server is stopping it
    medias->made.erase(it);
    g_object_unref(media); // whoever stops it holds it to the end of the stop
}

void OnMediaConfigure(GstRTSPMediaFactory *, GstRTSPMedia *media, gpointer data) {
    auto *medias = static_cast<Medias *>(data);
    std::lock_guard<std::mutex> lock(medias->mutex);
    medias->made.push_back(GST_RTSP_MEDIA(g_object_ref(media)));
    g_signal_connect(media, "unprepared", G_CALLBACK(OnMediaUnprepared), data);
}

gboolean OnStopSignal(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop *>(loop));
    return G_SOURCE_REMOVE;
}

// Opens the camera once to learn whether it is in colour, as the pipeline's conversion depends on it.
bool ProbeCamera(const gst::DriverSession &session, const StreamArgs &stream, bool &colour, std::string &error) {
    const DriverExports &d = session.Exports();
    bool found = false;
    if (char **names = d.getCVLCameraConfigNames()) {
        for (int i = 0; names[i] != nullptr && !found; ++i) found = stream.camera == names[i];
    }
    if (!found) {
        error = "no camera named '" + stream.camera + "' (kestcam list shows the cameras)";
        return false;
    }
    int geometry[2] = {0, 0};
    gst::DriverSession::TakeLastError();
    if (d.openCVLPort(0, stream.port, stream.camera.c_str(), geometry) != 1) {
        const std::string reason = gst::DriverSession::TakeLastError();
        error = "cannot open '" + stream.camera + "' on port " + std::to_string(stream.port) +
                (reason.empty() ? "" : ": " + reason);
        return false;
    }
    colour = CameraBytesPerPixel(d, stream.port, geometry[0]) == 3;
    d.closeCVLPort(0, stream.port);
    return true;
}

gboolean RegisterElement(GstPlugin *plugin) {
    return gst_element_register(plugin, "kestcamsrc", GST_RANK_NONE, GST_TYPE_KESTCAM_SRC);
}

} // namespace

int RunStream(const CommonOptions &options, const std::vector<std::string> &args) {
    StreamArgs stream;
    if (!ParseStreamArgs(args, stream)) {
        std::fprintf(stderr, "usage: kestcam stream --camera NAME [--port N] [--listen ADDR:PORT] [--path /NAME] "
                             "[--codec raw|jpeg|h264]\n");
        return kExitUsage;
    }
    gst_init(nullptr, nullptr);
    gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "kestcam", "kestcam camera sources",
                               RegisterElement, "1.0", "Proprietary", "kestcam", "kestcam", "kestcam");
    std::string error;
    auto session = gst::DriverSession::Acquire(options.driver, options.systemPath, error);
    bool colour = false;
    if (!session || !ProbeCamera(*session, stream, colour, error)) {
        std::fprintf(stderr, "kestcam stream: %s\n", error.c_str());
        return kExitFailure;
    }

    const std::string launch = "( kestcamsrc camera=" + Quoted(stream.camera) + " port=" +
                               std::to_string(stream.port) + " driver=" + Quoted(options.driver) +
                               " system-path=" + Quoted(options.systemPath) + " ! queue max-size-buffers=2 ! " +
                               Payloader(stream.codec, colour) + " )";
    GstRTSPServer *server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server, stream.host.c_str());
    gst_rtsp_server_set_service(server, std::to_string(stream.listenPort).c_str());
    GstRTSPMediaFactory *factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, launch.c_str());
    // One media for every client: one grab loop, whoever watches.
    gst_rtsp_media_factory_set_shared(factory, TRUE);
    Medias medias;
    g_signal_connect(factory, "media-configure", G_CALLBACK(OnMediaConfigure), &medias);
    GstRTSPMountPoints *mounts = gst_rtsp_server_get_mount_points(server);
    gst_rtsp_mount_points_add_factory(mounts, stream.path.c_str(), factory);
    g_object_unref(mounts);

    GMainLoop *loop = g_main_loop_new(nullptr, FALSE);
    const guint attached = gst_rtsp_server_attach(server, nullptr);
    if (attached == 0) {
        std::fprintf(stderr, "kestcam stream: cannot listen on %s:%d\n", stream.host.c_str(), stream.listenPort);
        g_main_loop_unref(loop);
        g_object_unref(server);
        return kExitFailure;
    }
    const std::string host = stream.host.find(':') != std::string::npos ? "[" + stream.host + "]" : stream.host;
    std::printf("rtsp://%s:%d%s\n", host.c_str(), gst_rtsp_server_get_bound_port(server), stream.path.c_str());
    std::printf("kestcam stream: %s as %s; Ctrl-C stops\n", stream.camera.c_str(), stream.codec.c_str());
    std::fflush(stdout);

    g_unix_signal_add(SIGINT, OnStopSignal, loop);
    g_unix_signal_add(SIGTERM, OnStopSignal, loop);
    g_main_loop_run(loop);

    // Clients first, then the media (which closes the camera), then the server.
    GstRTSPSessionPool *pool = gst_rtsp_server_get_session_pool(server);
    gst_rtsp_session_pool_cleanup(pool);
    g_object_unref(pool);
    gst_rtsp_server_client_filter(
        server, [](GstRTSPServer *, GstRTSPClient *, gpointer) { return GST_RTSP_FILTER_REMOVE; }, nullptr);
    g_source_remove(attached);
    // A media whose last client has just gone may still be stopping on a thread of the server's: each
    // is stopped here, waiting for its pipeline, before the driver is finalized and the process ends.
    std::vector<GstRTSPMedia *> made;
    {
        std::lock_guard<std::mutex> lock(medias.mutex);
        made.swap(medias.made);
    }
    for (GstRTSPMedia *media : made) {
        // Waits for a stop running on a server thread (the state lock), whose handler then finds the
        // media gone from the list.
        gst_rtsp_media_unprepare(media);
        g_signal_handlers_disconnect_by_data(media, &medias);
        if (GstElement *pipeline = gst_rtsp_media_get_element(media)) {
            gst_element_set_state(pipeline, GST_STATE_NULL);
            gst_object_unref(pipeline);
        }
        g_object_unref(media);
    }
    g_object_unref(server);
    g_main_loop_unref(loop);
    std::printf("kestcam stream: stopped\n");
    return kExitOk;
}

} // namespace kestcam::cli
