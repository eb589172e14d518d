// mil_app.h - the registry of the imaging application, its boards (MilSystem) and cameras.
#pragma once

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "mil/mil_api.h"

namespace kestcam {

class MilApp;
class MilDigitizer;

// Thrown by the look-ups that cannot succeed; the export guards turn it into a failure value.
class LookupError : public std::runtime_error {
public:
    LookupError() : std::runtime_error("Err") {}
};

// One frame-grabber board: one installed system type at one device number.
class MilSystem {
public:
    explicit MilSystem(MilApp *app);
    ~MilSystem();
    MilSystem(const MilSystem &) = delete;
    MilSystem &operator=(const MilSystem &) = delete;

    // Allocates the board and creates its cameras. attempted turns true once the board itself was
    // allocated, so the caller can tell an empty device number from a board whose set-up failed.
    bool Init(const char *descriptor, int index, int dev, bool &attempted);

    MilId SystemId() const { return systemId_; }
    MilApp *App() const { return app_; }
    const std::vector<std::unique_ptr<MilDigitizer>> &Digitizers() const { return digitizers_; }

private:
    MilId systemId_ = 0;
    MilApp *app_;
    std::vector<std::unique_ptr<MilDigitizer>> digitizers_;
};

class MilApp {
public:
    static constexpr int kSupportedSystemTypeCount = 19;
    static const char *const kSupportedSystemTypes[kSupportedSystemTypeCount];

    // The process-wide registry, created empty on first use. Inline: the row export asks for it on
    // every row.
    static MilApp &GetInstance() {
        MilApp *app = instance_.load(std::memory_order_acquire);
        return app != nullptr ? *app : CreateInstance();
    }
    // The registry when one exists, else null; creates nothing.
    static MilApp *Existing() { return instance_.load(std::memory_order_acquire); }
    static void DestroyInstance();

    ~MilApp();
    MilApp(const MilApp &) = delete;
    MilApp &operator=(const MilApp &) = delete;

    bool Init();
    // True once Init has built the registry (whatever it found); a second Init is refused.
    bool Initialized() const { return initialized_; }
    void DestroySolios();

    std::vector<MilDigitizer *> GetAllDigitizers() const;
    int GetCameraCount() const;
    char **GetCameraNames();
    bool IsCameraAvailable(const char *name) const;
    MilDigitizer &GetByName(const char *name) const;
    MilDigitizer &GetByPort(int port) const;
    // Every camera of every board, for a look-up walked inline where it runs on every row.
    const std::vector<MilDigitizer *> &Cameras() const { return cameras_; }
    // The failure of a look-up by port: logged, then LookupError.
    [[noreturn]] void NoCameraOnPort(int port) const;
    bool IsPortInUse(int port) const;
    static bool IsSupportedSystem(const char *descriptor);

    MilId AppId() const { return appId_; }
    const std::vector<std::unique_ptr<MilSystem>> &Systems() const { return systems_; }

    // Set for good by the first failed sequence grab: every camera then grabs buffer by buffer.
    bool GrabFallback() const { return grabFallback_.load(std::memory_order_acquire); }
    void SetGrabFallback() { grabFallback_.store(true, std::memory_order_release); }

private:
    MilApp();
    static MilApp &CreateInstance();

    static inline std::atomic<MilApp *> instance_{nullptr};

    std::unique_ptr<char *[]> cameraNames_;
    std::vector<std::unique_ptr<MilSystem>> systems_;
    // Every board's cameras in one array, for the look-up by port on every row call; made once Init
    // has found them all, emptied before they are freed.
    std::vector<MilDigitizer *> cameras_;
    MilId appId_ = 0;
    std::atomic<bool> grabFallback_{false};
    bool initialized_ = false;
};

// "MIL Error message:'<text>'" for the error pending on this thread, or " " when none is. Each caller
// receives its own copy, so concurrent callers never see each other's text.
std::string GetMilErrorText();

} // namespace kestcam
