// message_box.h - the modal message boxes that need a user's attention at once (a DCF that cannot
// be opened, a busy camera before configuration, an unreadable table in the dialog). Without a
// desktop to show them on, the text goes to the log instead.
#pragma once

#include <string>

namespace kestcam::os {

enum class MessageBoxIcon { Error, Warning };
enum class MessageBoxButtons { Ok, OkCancel };

// Shows text with the icon and an OK button and returns when the user has closed it. The headless
// form (POSIX, or KESTCAM_NO_MESSAGE_BOXES=1 on Windows) logs it at level 1 and returns at once.
void ShowMessageBox(MessageBoxIcon icon, const std::string &text);

// The same, owned by owner (a window handle, or null), with caption (null: the system's default)
// and the buttons given. True when the user pressed OK. The headless form logs the box and answers
// Cancel for OK/Cancel, so nothing goes ahead that nobody confirmed.
bool ShowMessageBox(void *owner, MessageBoxIcon icon, const std::string &text, const char *caption,
                    MessageBoxButtons buttons);

// Boxes shown (or logged in their place) since the process started.
int MessageBoxCount();

} // namespace kestcam::os
