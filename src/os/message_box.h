// message_box.h - the modal message boxes that need a user's attention at once (a DCF that cannot
// be opened). Without a desktop to show them on, the text goes to the log instead.
#pragma once

#include <string>

namespace kestcam::os {

enum class MessageBoxIcon { Error, Warning };

// Shows text with the icon and an OK button and returns when the user has closed it. The headless
// form (POSIX, or KESTCAM_NO_MESSAGE_BOXES=1 on Windows) logs it at level 1 and returns at once.
void ShowMessageBox(MessageBoxIcon icon, const std::string &text);

// Boxes shown (or logged in their place) since the process started.
int MessageBoxCount();

} // namespace kestcam::os
