// kill_test.cpp - a child process saves camera settings in a loop, the three ways the driver saves
// them (closing a camera, setting its Height, confirming its property sheet), and is killed with
// SIGKILL at a random moment. After every kill the settings file must parse, each camera's section
// must be one that a save wrote whole (never half old, half new), and a temporary file the killed
// save left behind must be gone after the next save.
//
// Before each save the child appends the section it is about to write to a journal (one write(2),
// so a kill leaves it whole or absent); after the save it appends the section it finds in its own
// settings, which must be the one predicted.
//
// Usage: kestcam_kill_test [--kills N] [--seed N]
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/mil_digitizer.h"
#include "driver/logger.h"
#include "mil/mil_app.h"
#include "settings/camera_settings.h"
#include "settings/ini_store.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "ui/configure_camera.h"

namespace {

using namespace kestcam;
namespace fs = std::filesystem;

const char *const kCameras[] = {"Camera 1", "Camera 2"};

// The section of one camera as a save writes it.
std::string SectionText(const CameraSettings &settings, const std::string &camera) {
    ini::IniDocument doc;
    CameraSettings copy = settings;
    copy.SaveTo(doc, camera.c_str());
    return doc.Serialize();
}

std::string SectionOfFile(const ini::IniDocument &file, const std::string &camera) {
    ini::IniDocument section;
    for (const std::string &key : file.KeyNames(camera))
        section.Set(camera, key, *file.Get(camera, key));
    return section.Serialize();
}

class Journal {
public:
    explicit Journal(const std::string &path) : fd_(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600)) {}
    ~Journal() { close(fd_); }
    // "BEFORE|AFTER camera\n<section>\x1e\n" in one write.
    void Record(const char *when, const std::string &camera, const std::string &section) {
        const std::string entry = std::string(when) + " " + camera + "\n" + section + "\x1e\n";
        if (write(fd_, entry.data(), entry.size()) != static_cast<ssize_t>(entry.size())) std::abort();
    }

private:
    int fd_;
};

struct Entry {
    std::string when;
    std::string camera;
    std::string section;
};

std::vector<Entry> ReadJournal(const std::string &path) {
    std::vector<Entry> entries;
    const std::string text = test::TempDir::Read(path);
    size_t at = 0;
    for (;;) {
        const size_t end = text.find("\x1e\n", at);
        if (end == std::string::npos) break;
        const std::string entry = text.substr(at, end - at);
        at = end + 2;
        const size_t line = entry.find('\n');
        const size_t space = entry.find(' ');
        if (line == std::string::npos || space == std::string::npos || space > line) continue;
        entries.push_back(
            {entry.substr(0, space), entry.substr(space + 1, line - space - 1), entry.substr(line + 1)});
    }
    return entries;
}

// ---- the child ------------------------------------------------------------------------------

[[noreturn]] void Mismatch(const char *what) {
    std::fprintf(stderr, "kill test child: %s\n", what);
    std::fflush(stderr);
    _exit(3);
}

int RunChild(const std::string &dir, unsigned long long seed) {
    setenv("KESTCAM_SIM_CONFIG", "", 1);
    Logger::Instance().SetSystemPath(dir);
    Logger::Instance().SetLogLevel(0);
    if (!MilApp::GetInstance().Init()) Mismatch("no simulated cameras");
    Journal journal(dir + "/journal.txt");
    std::mt19937_64 rng(seed);
    test::ScriptedDialogService service;

    // Each camera's section as the last child left it, then one sheet: confirming it once settles
    // what the pages normalise (the LUT column becomes "None"), so that every later confirmation
    // changes only what is typed.
    for (const char *camera : kCameras) {
        MilDigitizer &digitizer = MilApp::GetInstance().GetByName(camera);
        digitizer.WithSettings([&](CameraSettings &s) { return s.Load(camera); });
        service.onSheet = [](test::ScriptedSheetRun &) { return true; };
        const CameraSettings before = digitizer.WithSettings([](CameraSettings &s) { return s; });
        journal.Record("BEFORE", camera, SectionText(before, camera));
        if (ui::ConfigureCamera(nullptr, camera) != 0) Mismatch("the first sheet was not accepted");
        journal.Record("AFTER", camera,
                       SectionText(digitizer.WithSettings([](CameraSettings &s) { return s; }), camera));
    }
    std::printf("ready\n");
    std::fflush(stdout);

    for (unsigned long long g = 1;; ++g) {
        const std::string camera = kCameras[rng() % 2];
        MilDigitizer &digitizer = MilApp::GetInstance().GetByName(camera.c_str());
        CameraSettings expected = digitizer.WithSettings([](CameraSettings &s) { return s; });
        switch (rng() % 3) {
        case 0: { // Close: what the open camera holds, with a few values changed in memory
            int geometry[2] = {0, 0};
            if (!digitizer.Open(1, geometry)) Mismatch("open failed");
            digitizer.SetProperty("Shift16bit", static_cast<int>(g % 9));
            digitizer.SetProperty("Use16bit", static_cast<int>(g % 2));
            digitizer.SetProperty("LogLevel", static_cast<int>(g % 3));
            expected = digitizer.WithSettings([](CameraSettings &s) { return s; });
            journal.Record("BEFORE", camera, SectionText(expected, camera));
            digitizer.Close();
            break;
        }
        case 1: { // setProperty of Height: saved at once
            const int height = 100 + static_cast<int>(g % 5000);
            expected.Height.value = height;
            journal.Record("BEFORE", camera, SectionText(expected, camera));
            digitizer.SetProperty("Height", height);
            break;
        }
        default: { // the property sheet's OK
            const int frames = 1 + static_cast<int>(g % 10);
            const int timeout = 500 + static_cast<int>(g % 50000);
            expected.HeightMultiplier.value = frames;
            expected.GrabTimeout.value = timeout;
            journal.Record("BEFORE", camera, SectionText(expected, camera));
            service.onSheet = [&](test::ScriptedSheetRun &run) {
                run.TypeFg(ui::CPropFrameGrabber::kHeightMultiplier, std::to_string(frames));
                run.TypeFg(ui::CPropFrameGrabber::kGrabTimeout, std::to_string(timeout));
                return true;
            };
            if (ui::ConfigureCamera(nullptr, camera.c_str()) != 0) Mismatch("the sheet was not accepted");
            break;
        }
        }
        const CameraSettings now = digitizer.WithSettings([](CameraSettings &s) { return s; });
        if (SectionText(now, camera) != SectionText(expected, camera)) Mismatch("a save wrote other values");
        journal.Record("AFTER", camera, SectionText(now, camera));
    }
}

// ---- the parent -----------------------------------------------------------------------------

std::vector<std::string> Temporaries(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("Kest.ini.tmp.", 0) == 0) names.push_back(name);
    }
    return names;
}

struct Options {
    int kills = 100;
    unsigned long long seed = 0;
};

int Fail(const std::string &what, int kill, unsigned long long seed) {
    std::fprintf(stderr, "kill test: FAILED after kill %d: %s (seed %llu)\n", kill, what.c_str(), seed);
    return 1;
}

int RunParent(const char *self, const Options &options) {
    std::printf("kill test: seed %llu, %d kills\n", options.seed, options.kills);
    std::fflush(stdout);
    test::TempDir dir;
    const std::string journalPath = dir.File("journal.txt");
    std::mt19937_64 rng(options.seed);
    std::vector<std::string> staleBefore;
    long long saves = 0;
    int killedMidSave = 0;
    for (int kill = 1; kill <= options.kills; ++kill) {
        int ready[2];
        if (pipe(ready) != 0) return Fail("pipe", kill, options.seed);
        const unsigned long long childSeed = rng();
        const pid_t child = fork();
        if (child == 0) {
            dup2(ready[1], 1);
            close(ready[0]);
            const std::string seedText = std::to_string(childSeed);
            execl(self, self, "--child", dir.Str().c_str(), seedText.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        close(ready[1]);
        char line[16] = {};
        const ssize_t got = read(ready[0], line, sizeof line - 1);
        close(ready[0]);
        if (got <= 0 || std::string(line).rfind("ready", 0) != 0) {
            int status = 0;
            waitpid(child, &status, 0);
            return Fail("the child did not start (exit status " + std::to_string(WEXITSTATUS(status)) + ")", kill,
                        options.seed);
        }
        // Anywhere in the next few dozen saves.
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 60000));
        ::kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFSIGNALED(status))
            return Fail("the child ended on its own: a save wrote other values", kill, options.seed);

        // The file parses, and each section is one a save wrote whole.
        const std::string file = dir.File("Kest.ini");
        ini::IniDocument doc;
        if (ini::ReadDocument(file, doc)) return Fail("Kest.ini cannot be read", kill, options.seed);
        const std::vector<Entry> journal = ReadJournal(journalPath);
        for (const char *camera : kCameras) {
            std::set<std::string> written;
            std::string last;
            for (const Entry &e : journal) {
                if (e.camera != camera) continue;
                written.insert(e.section);
                if (e.when == "AFTER") last = e.section;
            }
            const std::string section = SectionOfFile(doc, camera);
            if (doc.KeyNames(camera).size() != 33)
                return Fail(std::string(camera) + " lacks keys", kill, options.seed);
            if (!written.empty() && written.count(section) == 0)
                return Fail(std::string(camera) + "'s section is no section a save wrote", kill, options.seed);
            CameraSettings settings;
            if (!settings.LoadFrom(file, camera))
                return Fail("CameraSettings cannot load the file", kill, options.seed);
            (void)last;
        }
        if (!journal.empty() && journal.back().when == "BEFORE") ++killedMidSave;
        saves = static_cast<long long>(
            std::count_if(journal.begin(), journal.end(), [](const Entry &e) { return e.when == "AFTER"; }));

        // What an earlier kill left behind went with this child's saves (it made some: the first
        // sheets).
        const std::vector<std::string> stale = Temporaries(dir.Str());
        for (const std::string &name : staleBefore)
            if (std::find(stale.begin(), stale.end(), name) != stale.end())
                return Fail("a temporary file of an earlier kill is still there: " + name, kill, options.seed);
        if (stale.size() > 1) return Fail("more than the killed save's temporary file", kill, options.seed);
        staleBefore = stale;
    }
    std::printf("kill test: %d kills, %lld saves completed, %d kills between a save's start and its end\n",
                options.kills, saves, killedMidSave);
    std::printf("kill test: seed %llu: the settings file was always whole\n", options.seed);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::string(argv[1]) == "--child")
        return RunChild(argv[2], std::strtoull(argv[3], nullptr, 10));
    Options options;
    options.seed = std::random_device{}();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--kills")
            options.kills = std::atoi(argv[i + 1]);
        else if (a == "--seed")
            options.seed = std::strtoull(argv[i + 1], nullptr, 10);
        else {
            std::fprintf(stderr, "usage: kestcam_kill_test [--kills N] [--seed N]\n");
            return 2;
        }
    }
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;
    return RunParent(self, options);
}
