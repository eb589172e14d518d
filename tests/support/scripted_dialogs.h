// scripted_dialogs.h - dialog views and a dialog service that tests drive in place of a user: items
// held in memory, scripted file choices and answers, and a sheet that runs both pages.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/csheet1.h"
#include "ui/dialog_service.h"
#include "ui/dialog_view.h"
#include "ui/dlg_generate_lut.h"
#include "ui/prop_camera_controls.h"
#include "ui/prop_frame_grabber.h"

namespace kestcam::test {

struct ScriptedItem {
    std::string text;
    int check = 0;
    bool enabled = true;
    std::vector<std::string> list;
    int selection = -1;
    bool readOnly = false;
};

class ScriptedControl : public ControlView {
public:
    explicit ScriptedControl(ScriptedItem &item) : item_(item) {}
    std::string GetText() const override { return item_.text; }
    void SetText(const std::string &text) override { item_.text = text; }
    void ResetList() override {
        item_.list.clear();
        item_.selection = -1;
    }
    void AddItem(const std::string &text) override { item_.list.push_back(text); }
    int GetSelection() const override { return item_.selection; }
    void SetSelection(int index) override {
        item_.selection = index >= 0 && index < static_cast<int>(item_.list.size()) ? index : -1;
    }
    int ItemCount() const override { return static_cast<int>(item_.list.size()); }
    std::string ItemText(int index) const override { return item_.list.at(static_cast<size_t>(index)); }
    void SetReadOnly(bool readOnly) override { item_.readOnly = readOnly; }

private:
    ScriptedItem &item_;
};

class ScriptedDialog : public ui::DialogView {
public:
    explicit ScriptedDialog(std::string caption) : caption_(std::move(caption)) {}

    ControlView &Item(int id) override {
        auto &control = controls_[id];
        if (!control) control = std::make_unique<ScriptedControl>(items[id]);
        return *control;
    }
    int GetCheck(int id) const override { return At(id).check; }
    void SetCheck(int id, int state) override { items[id].check = state; }
    void Enable(int id, bool enabled) override { items[id].enabled = enabled; }
    std::string Caption() const override { return caption_; }
    std::optional<std::string> ChooseFile(const ui::FileDialogRequest &request) override {
        fileRequests.push_back(request);
        return chooseFile ? chooseFile(request) : std::nullopt;
    }
    void ShowError(const std::string &text) override { errors.push_back(text); }
    void QuerySiblings() override {
        if (querySiblings) querySiblings();
    }
    void RunGenerator(ui::DlgGenerateLUT &dialog) override {
        ++generatorRuns;
        if (runGenerator) runGenerator(dialog);
    }

    const ScriptedItem &At(int id) const {
        static const ScriptedItem none;
        auto it = items.find(id);
        return it == items.end() ? none : it->second;
    }

    std::map<int, ScriptedItem> items;
    std::function<std::optional<std::string>(const ui::FileDialogRequest &)> chooseFile; // unset: Cancel
    std::vector<ui::FileDialogRequest> fileRequests;
    std::vector<std::string> errors;
    std::function<void()> querySiblings;
    std::function<void(ui::DlgGenerateLUT &)> runGenerator;
    int generatorRuns = 0;

private:
    std::string caption_;
    std::map<int, std::unique_ptr<ScriptedControl>> controls_;
};

// A sheet shown with both pages, as the platform's sheet does it: pages initialised, the
// query-siblings message passed to each page, OK applying both.
class ScriptedSheetRun : public ui::SheetView {
public:
    explicit ScriptedSheetRun(ui::CSheet1 &sheet)
        : sheet_(sheet), fg_(*sheet.FrameGrabberPage()), cam_(*sheet.CameraPage()) {
        sheet_.Attach(this);
        auto query = [this] {
            fg_.OnQuerySiblings();
            cam_.OnQuerySiblings();
        };
        fgView.querySiblings = query;
        camView.querySiblings = query;
        fg_.Attach(&fgView);
        fg_.OnInitDialog();
        cam_.Attach(&camView);
        cam_.OnInitDialog();
    }
    ~ScriptedSheetRun() override {
        fg_.Attach(nullptr);
        cam_.Attach(nullptr);
        sheet_.Attach(nullptr);
    }

    void EnableOk(bool enabled) override { okEnabled = enabled; }
    void SetStatusText(const std::string &text) override { status = text; }

    // The user types into an edit of the frame-grabber page / of the camera page.
    void TypeFg(int id, const std::string &text) {
        fgView.items[id].text = text;
        fg_.OnEditChange(id);
    }
    void TypeCam(int id, const std::string &text) {
        camView.items[id].text = text;
        cam_.OnEditChange(id);
    }
    // Clicks toggle a check box (push buttons have no check state to speak of).
    void ClickFg(int id) {
        fgView.items[id].check ^= 1;
        fg_.OnClicked(id);
    }
    void ClickCam(int id) {
        camView.items[id].check ^= 1;
        cam_.OnClicked(id);
    }
    void SelectPort(int index) {
        camView.items[ui::CPropCameraControls::kPort].selection = index;
        cam_.OnPortChanged();
    }
    // False, nothing applied, while OK is disabled.
    bool PressOk() {
        if (!okEnabled) return false;
        fg_.OnApply();
        cam_.OnApply();
        return true;
    }

    ScriptedDialog fgView{ui::CPropFrameGrabber::kCaption};
    ScriptedDialog camView{ui::CPropCameraControls::kCaption};
    bool okEnabled = true;
    std::string status;

private:
    ui::CSheet1 &sheet_;
    ui::CPropFrameGrabber &fg_;
    ui::CPropCameraControls &cam_;
};

// A dialog service whose user is a script: the warning's answer, and what is done on the sheet
// (return true to press OK).
class ScriptedDialogService : public ui::DialogService {
public:
    ScriptedDialogService() { ui::InstallDialogService(this); }
    ~ScriptedDialogService() override { ui::InstallDialogService(nullptr); }

    bool Confirm(void *owner, const std::string &text, const std::string &caption) override {
        confirms.push_back(caption + "|" + text);
        return confirmAnswer;
    }
    bool RunPropertySheet(ui::CSheet1 &sheet) override {
        ++sheetsShown;
        title = sheet.Title();
        ScriptedSheetRun run(sheet);
        const bool ok = onSheet ? onSheet(run) : false;
        return ok && run.PressOk();
    }

    bool confirmAnswer = true;
    std::vector<std::string> confirms;
    std::function<bool(ScriptedSheetRun &)> onSheet; // unset: Cancel
    int sheetsShown = 0;
    std::string title;
};

} // namespace kestcam::test
