// configure_camera.h - the body of the export configureCamera, callable without the export guard.
#pragma once

namespace kestcam::ui {

// 0 when the sheet was accepted (and saved) or no camera has the name; 1 otherwise. Throws what the
// registry look-up throws; the export turns that into 1.
int ConfigureCamera(void *parent, const char *cameraName);

} // namespace kestcam::ui
