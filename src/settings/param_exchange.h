// param_exchange.h - moving parameter values between parameters and dialog controls, written
// against an abstract control so the real dialogs and the tests bind the same code.
#pragma once

#include <string>

#include "settings/param.h"

namespace kestcam {

// One edit field or combo box as the exchange operations see it. Selection indexes are
// 0-based; -1 means no selection.
class ControlView {
public:
    virtual ~ControlView() = default;
    virtual std::string GetText() const = 0;
    virtual void SetText(const std::string &text) = 0;
    // Drop-down list of a combo box.
    virtual void ResetList() = 0;
    virtual void AddItem(const std::string &text) = 0;
    virtual int GetSelection() const = 0;
    virtual void SetSelection(int index) = 0;
    virtual int ItemCount() const = 0;
    virtual std::string ItemText(int index) const = 0;
    // Makes the edit field of a combo box read-only (the user then only picks from the list).
    virtual void SetReadOnly(bool readOnly) = 0;
};

enum class ExchangeDirection { ToControl, FromControl };

// Reading back never fails: text that is no number becomes 0 (atoi / atof rules).
void ExchangeInt(ExchangeDirection direction, ControlView &control, Param<int> &param);
// Towards the control with 15 significant digits, so what the user sees survives a round trip.
void ExchangeDouble(ExchangeDirection direction, ControlView &control, Param<double> &param);
void ExchangeText(ExchangeDirection direction, ControlView &control, Param<std::string> &param);
// Lists every entry, selects the last one whose text is the value (none when no text matches)
// and makes the edit field read-only.
void FillEnumCombo(ControlView &combo, const ParamEnum &param);
// The selected item's text, or "None" when nothing valid is selected.
void ReadComboText(ControlView &combo, Param<std::string> &param);

} // namespace kestcam
