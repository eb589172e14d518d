# The live view (`kestcam view`) as a client sees it: HTTP tests in GoogleTest against the viewer run
# as its own process, and the end-to-end test in headless Chromium. Built where the viewer is.
if(NOT TARGET kestcam_cli)
  return()
endif()
if(NOT KESTCAM_HAVE_VIEW)
  add_test(NAME View.Cli.ABuildWithoutTheViewSaysSo COMMAND kestcam_cli view --camera "Camera 1")
  set_tests_properties(View.Cli.ABuildWithoutTheViewSaysSo PROPERTIES
    PASS_REGULAR_EXPRESSION "kestcam view: not part of this build" TIMEOUT 120)
  return()
endif()
file(GLOB KC_VIEW_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/view/*.cpp)
add_executable(kestcam_view_tests ${KC_VIEW_TEST_SOURCES})
target_include_directories(kestcam_view_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(kestcam_view_tests PRIVATE KESTCAM_CLI_PATH="$<TARGET_FILE:kestcam_cli>")
target_link_libraries(kestcam_view_tests PRIVATE kestcam_camsim kestcam_core PkgConfig::KC_HTTPLIB
                      PkgConfig::KC_TURBOJPEG ${KC_GTEST} GTest::gtest_main Threads::Threads)
add_dependencies(kestcam_view_tests kestcam_cli kestcam)
gtest_discover_tests(kestcam_view_tests ${KC_DISCOVERY} TEST_PREFIX "View." PROPERTIES TIMEOUT 300)

# The command line: one source, an address with a port, a camera that opens, an address of this machine.
function(kc_view_cli_test name expected)
  add_test(NAME View.Cli.${name} COMMAND kestcam_cli --system-path ${CMAKE_CURRENT_BINARY_DIR} view ${ARGN})
  set_tests_properties(View.Cli.${name} PROPERTIES PASS_REGULAR_EXPRESSION "${expected}" TIMEOUT 60
    ENVIRONMENT "KESTCAM_SIM_CONFIG=;KESTCAM_MIL=sim")
endfunction()
kc_view_cli_test(UsageNeedsOneSource "usage: kestcam view")
kc_view_cli_test(UsageNeedsNotBothSources "usage: kestcam view" --camera "Camera 1" --share x)
kc_view_cli_test(ListenNeedsAPort "usage: kestcam view" --camera "Camera 1" --listen 127.0.0.1)
kc_view_cli_test(ListenPortMustBeANumber "usage: kestcam view" --camera "Camera 1" --listen 127.0.0.1:http)
kc_view_cli_test(AnUnknownCameraFails "kestcam view: cannot open 'Camera 9' on port 0" --camera "Camera 9")
kc_view_cli_test(AnAddressOfNoInterfaceFails "kestcam view: cannot listen on http://192.0.2.1:8080/"
                 --camera "Camera 1" --listen 192.0.2.1:8080)

# Headless Chromium driven over the DevTools protocol; exit code 77 (skipped) without Chromium.
set(KC_SYSTEM_PYTHON /usr/bin/python3)
add_test(NAME View.BrowserShowsFramesAndTheExposureControlReachesTheCamera
         COMMAND ${KC_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/view/view_browser_test.py
                 --kestcam $<TARGET_FILE:kestcam_cli> --screenshot ${CMAKE_CURRENT_BINARY_DIR}/live-view.png)
set_tests_properties(View.BrowserShowsFramesAndTheExposureControlReachesTheCamera PROPERTIES
  SKIP_RETURN_CODE 77 TIMEOUT 300 ENVIRONMENT "KESTCAM_SIM_CONFIG=;KESTCAM_MIL=sim")
