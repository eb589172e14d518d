// genicam_main.cpp - the GenICam tests run in a network namespace of their own, entered before any
// thread starts; without one (no privilege) every test is skipped with the reason.
#include <gtest/gtest.h>

#include "fake_camera.h"

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    kestcam::test::EnterPrivateNetwork();
    return RUN_ALL_TESTS();
}
