// dialog_service.h - the platform's dialog services as the launcher needs them: an owned OK/Cancel
// warning and a modal property sheet. Windows has the real ones; elsewhere there are none unless a
// test installs a scripted service.
#pragma once

#include <string>

namespace kestcam::ui {

class CSheet1;

class DialogService {
public:
    virtual ~DialogService() = default;
    // A modal box with the exclamation icon and OK and Cancel, owned by owner (a window handle, or
    // null); true for OK.
    virtual bool Confirm(void *owner, const std::string &text, const std::string &caption) = 0;
    // Shows the sheet with its pages modally; true when it was closed with OK.
    virtual bool RunPropertySheet(CSheet1 &sheet) = 0;
};

// The installed service, else the platform's own; null where the platform has none.
DialogService *CurrentDialogService();
// Tests install a scripted service; null gives the platform's back. Not for use while a sheet runs.
void InstallDialogService(DialogService *service);
// The platform's service (one file per platform); null without a dialog framework.
DialogService *PlatformDialogService();

} // namespace kestcam::ui
