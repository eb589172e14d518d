// dialog_service_posix.cpp - no dialog framework here: the launcher logs and answers Cancel.
#include "ui/dialog_service.h"

namespace kestcam::ui {

DialogService *PlatformDialogService() {
    return nullptr;
}

} // namespace kestcam::ui
