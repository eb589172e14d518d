// mil_backend_win32.cpp - on Windows the imaging library is MIL.dll (or the DLL KESTCAM_MIL names),
// with every function resolved by its ordinal; "sim" selects the built-in simulator.
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "driver/logger.h"
#include "mil/mil_backend.h"
#include "os/dynamic_library.h"

namespace kestcam {
namespace {

constexpr const char *kDefaultLibrary = "MIL.dll";

// Every member of the table is one function of the ordinal list, in the same order.
static_assert(sizeof(MilFunctions) == std::size(kMilOrdinals) * sizeof(&SelectMilBackend),
              "MilFunctions and kMilOrdinals must list the same functions");

// A library and the table of its functions. The library stays loaded while the table may be in use.
struct LoadedMil {
    os::DynamicLibrary library;
    MilFunctions functions{};
};

// Resolves the table's functions one by one, remembering the ordinals the library lacks.
class OrdinalResolver {
public:
    explicit OrdinalResolver(const os::DynamicLibrary &library) : library_(library) {}

    template <typename F> void Resolve(const char *name, F &slot) {
        ++resolved_;
        const MilOrdinal *entry = Find(name);
        void *address = entry != nullptr ? library_.Ordinal(entry->ordinal) : nullptr;
        if (address == nullptr) {
            if (!missing_.empty()) missing_ += ", ";
            missing_ += entry != nullptr ? std::to_string(entry->ordinal) + " (" + name + ")"
                                         : std::string("? (") + name + ")";
            return;
        }
        slot = reinterpret_cast<F>(address);
    }

    bool Complete() const { return missing_.empty() && resolved_ == std::size(kMilOrdinals); }
    const std::string &Missing() const { return missing_; }

private:
    static const MilOrdinal *Find(const char *name) {
        for (const MilOrdinal &entry : kMilOrdinals)
            if (std::strcmp(entry.name, name) == 0) return &entry;
        return nullptr;
    }

    const os::DynamicLibrary &library_;
    size_t resolved_ = 0;
    std::string missing_;
};

#define KC_RESOLVE(fn) resolver.Resolve(#fn, table.fn)

std::unique_ptr<LoadedMil> LoadByOrdinal(const std::string &path) {
    std::string why;
    os::DynamicLibrary library = os::DynamicLibrary::Open(path, why);
    if (!library.IsLoaded()) {
        KC_LOG(1, "MilBackend: ERROR: cannot load the imaging library %s (%s)\n", path.c_str(), why.c_str());
        return nullptr;
    }
    auto loaded = std::make_unique<LoadedMil>();
    MilFunctions &table = loaded->functions;
    OrdinalResolver resolver(library);
    KC_RESOLVE(MappAlloc);
    KC_RESOLVE(MappControl);
    KC_RESOLVE(MappInquire);
    KC_RESOLVE(MappFree);
    KC_RESOLVE(MappGetError);
    KC_RESOLVE(MsysAlloc);
    KC_RESOLVE(MsysInquire);
    KC_RESOLVE(MsysFree);
    KC_RESOLVE(MdigAlloc);
    KC_RESOLVE(MdigInquire);
    KC_RESOLVE(MdigControl);
    KC_RESOLVE(MdigLut);
    KC_RESOLVE(MdigProcess);
    KC_RESOLVE(MdigGrab);
    KC_RESOLVE(MdigFree);
    KC_RESOLVE(MbufAlloc2d);
    KC_RESOLVE(MbufAllocColor);
    KC_RESOLVE(MbufGet2d);
    KC_RESOLVE(MbufGetColor2d);
    KC_RESOLVE(MbufFree);
    if (!resolver.Complete()) {
        // A library without every function is not used at all: a half-filled table would fail
        // later, somewhere in the middle of a grab.
        KC_LOG(1, "MilBackend: ERROR: the imaging library %s lacks ordinal(s) %s\n", path.c_str(),
               resolver.Missing().c_str());
        return nullptr;
    }
    loaded->library = std::move(library);
    KC_LOG(2, "MilBackend: imaging library %s loaded, %d functions resolved by ordinal\n", path.c_str(),
           static_cast<int>(std::size(kMilOrdinals)));
    return loaded;
}

#undef KC_RESOLVE

} // namespace

const MilFunctions &PlatformMilFunctions(const char *selection) {
    if (selection != nullptr && std::strcmp(selection, "sim") == 0) return BuiltInSimulatorFunctions();
    const std::string path = selection != nullptr ? selection : kDefaultLibrary;

    // A loaded library is kept for the life of the process, one per path: a table handed out
    // earlier may still be reached by a thread that outlived its camera, and unloading from the
    // driver's own unload (DllMain) is not safe.
    static std::mutex mutex;
    static auto *libraries = new std::map<std::string, std::unique_ptr<LoadedMil>>();
    std::lock_guard<std::mutex> lock(mutex);
    auto found = libraries->find(path);
    if (found != libraries->end()) return found->second->functions;

    std::unique_ptr<LoadedMil> loaded = LoadByOrdinal(path);
    if (!loaded) return UnavailableMilFunctions();
    const MilFunctions &functions = loaded->functions;
    libraries->emplace(path, std::move(loaded));
    return functions;
}

// Libraries loaded by ordinal offer no feature functions.
const MilFeatureFunctions &PlatformMilFeatureFunctions(const char *) {
    return NoMilFeatureFunctions();
}

} // namespace kestcam
