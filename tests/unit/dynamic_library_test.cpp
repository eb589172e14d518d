// The run-time library owner: a library that cannot be loaded leaves an empty owner and the
// system's reason; a loaded one resolves exports and hands its library on when moved.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "os/dynamic_library.h"
#include "support/temp_dir.h"

namespace kestcam::os {
namespace {

TEST(DynamicLibrary, MissingLibraryLeavesAnEmptyOwnerAndAReason) {
    test::TempDir dir;
    std::string error;
    DynamicLibrary library = DynamicLibrary::Open(dir.File("absent-library.dll"), error);
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(library.Symbol("anything"), nullptr);
    EXPECT_EQ(library.Ordinal(1), nullptr);
}

TEST(DynamicLibrary, LoadedLibraryResolvesByNameAndMovesToItsNewOwner) {
    std::string error;
    DynamicLibrary first = DynamicLibrary::Open(KESTCAM_DRIVER_DLL, error);
    ASSERT_TRUE(first.IsLoaded()) << error;
    void *initialize = first.Symbol("initialize");
    EXPECT_NE(initialize, nullptr);
    EXPECT_EQ(first.Symbol("noSuchExport"), nullptr);

    DynamicLibrary second(std::move(first));
    EXPECT_FALSE(first.IsLoaded());
    ASSERT_TRUE(second.IsLoaded());
    EXPECT_EQ(second.Symbol("initialize"), initialize);
    second.Reset();
    EXPECT_FALSE(second.IsLoaded());
    EXPECT_EQ(second.Symbol("initialize"), nullptr);
}

} // namespace
} // namespace kestcam::os
