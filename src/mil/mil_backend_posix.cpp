// mil_backend_posix.cpp - on POSIX systems the imaging library is the built-in simulator, or the
// shared object KESTCAM_MIL names, with every function resolved by name; "genicam" names the
// GenICam backend installed beside the driver.
#include <dlfcn.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "driver/logger.h"
#include "mil/mil_backend.h"
#include "os/dynamic_library.h"

namespace kestcam {
namespace {

constexpr const char *kGenicamSelection = "genicam";
constexpr const char *kGenicamLibrary = "libkestcam_genicam.so";

// Every member of the table is one function of the list, in the same order.
static_assert(sizeof(MilFunctions) == std::size(kMilOrdinals) * sizeof(&SelectMilBackend),
              "MilFunctions and kMilOrdinals must list the same functions");

// A library and the tables of its functions. The library stays loaded while the tables may be in use.
struct LoadedMil {
    os::DynamicLibrary library;
    MilFunctions functions{};
    MilFeatureFunctions features{};
};

// The directory of the file this code was loaded from (the driver), with a trailing '/'; empty
// when the system cannot say.
std::string OwnDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&PlatformMilFunctions), &info) == 0 || info.dli_fname == nullptr)
        return "";
    const std::string file = info.dli_fname;
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? "" : file.substr(0, slash + 1);
}

std::string LibraryPath(const char *selection) {
    if (std::strcmp(selection, kGenicamSelection) == 0) return OwnDirectory() + kGenicamLibrary;
    return selection;
}

std::unique_ptr<LoadedMil> LoadByName(const std::string &path) {
    std::string why;
    os::DynamicLibrary library = os::DynamicLibrary::Open(path, why);
    if (!library.IsLoaded()) {
        KC_LOG(1, "MilBackend: ERROR: cannot load the imaging library %s (%s)\n", path.c_str(), why.c_str());
        return nullptr;
    }
    auto loaded = std::make_unique<LoadedMil>();
    std::string missing;
    // The table's members, in the order of the list, each resolved by the list's name.
    using Slot = void (*)();
    Slot *slots = reinterpret_cast<Slot *>(&loaded->functions);
    for (size_t i = 0; i < std::size(kMilOrdinals); ++i) {
        void *address = library.Symbol(kMilOrdinals[i].name);
        if (address == nullptr) {
            if (!missing.empty()) missing += ", ";
            missing += kMilOrdinals[i].name;
            continue;
        }
        slots[i] = reinterpret_cast<Slot>(address);
    }
    if (!missing.empty()) {
        // A library without every function is not used at all: a half-filled table would fail
        // later, somewhere in the middle of a grab.
        KC_LOG(1, "MilBackend: ERROR: the imaging library %s lacks the function(s) %s\n", path.c_str(),
               missing.c_str());
        return nullptr;
    }
    // The feature functions are optional: all three, or none.
    MilFeatureFunctions &features = loaded->features;
    features.FeatureGet = reinterpret_cast<decltype(features.FeatureGet)>(library.Symbol("KcFeatureGet"));
    features.FeatureSet = reinterpret_cast<decltype(features.FeatureSet)>(library.Symbol("KcFeatureSet"));
    features.FeatureRange = reinterpret_cast<decltype(features.FeatureRange)>(library.Symbol("KcFeatureRange"));
    if (features.FeatureGet == nullptr || features.FeatureSet == nullptr || features.FeatureRange == nullptr)
        features = MilFeatureFunctions{};
    loaded->library = std::move(library);
    KC_LOG(2, "MilBackend: imaging library %s loaded, %d functions resolved by name%s\n", path.c_str(),
           static_cast<int>(std::size(kMilOrdinals)),
           features.FeatureGet != nullptr ? ", with feature access" : "");
    return loaded;
}

// The library for a selection, loaded once per path and kept for the life of the process: a table
// handed out earlier may still be reached by a thread that outlived its camera. Null when it
// cannot be used; that too is remembered, so its reason is logged once.
const LoadedMil *Loaded(const char *selection) {
    const std::string path = LibraryPath(selection);
    static std::mutex mutex;
    static auto *libraries = new std::map<std::string, std::unique_ptr<LoadedMil>>();
    std::lock_guard<std::mutex> lock(mutex);
    auto found = libraries->find(path);
    if (found != libraries->end()) return found->second.get();
    return libraries->emplace(path, LoadByName(path)).first->second.get();
}

bool IsSimulator(const char *selection) {
    return selection == nullptr || std::strcmp(selection, "sim") == 0;
}

} // namespace

const MilFunctions &PlatformMilFunctions(const char *selection) {
    if (IsSimulator(selection)) return BuiltInSimulatorFunctions();
    const LoadedMil *loaded = Loaded(selection);
    return loaded != nullptr ? loaded->functions : UnavailableMilFunctions();
}

const MilFeatureFunctions &PlatformMilFeatureFunctions(const char *selection) {
    if (IsSimulator(selection)) return NoMilFeatureFunctions();
    const LoadedMil *loaded = Loaded(selection);
    return loaded != nullptr ? loaded->features : NoMilFeatureFunctions();
}

} // namespace kestcam
