// dialog_service.cpp - the installed dialog service, or the platform's.
#include "ui/dialog_service.h"

#include <atomic>

namespace kestcam::ui {
namespace {

std::atomic<DialogService *> &Installed() {
    static std::atomic<DialogService *> service{nullptr};
    return service;
}

} // namespace

DialogService *CurrentDialogService() {
    DialogService *service = Installed().load(std::memory_order_acquire);
    return service != nullptr ? service : PlatformDialogService();
}

void InstallDialogService(DialogService *service) {
    Installed().store(service, std::memory_order_release);
}

} // namespace kestcam::ui
