// param_exchange.cpp - the five exchange operations between parameters and controls.
#include "settings/param_exchange.h"

#include "settings/number_text.h"

namespace kestcam {

void ExchangeInt(ExchangeDirection direction, ControlView &control, Param<int> &param) {
    if (direction == ExchangeDirection::ToControl)
        control.SetText(FormatInt(param.value));
    else
        param.value = ParseIntPrefix(control.GetText());
}

void ExchangeDouble(ExchangeDirection direction, ControlView &control, Param<double> &param) {
    if (direction == ExchangeDirection::ToControl)
        control.SetText(FormatDouble(param.value, 15));
    else
        param.value = ParseDoublePrefix(control.GetText());
}

void ExchangeText(ExchangeDirection direction, ControlView &control, Param<std::string> &param) {
    if (direction == ExchangeDirection::ToControl)
        control.SetText(param.value);
    else
        param.value = control.GetText();
}

void FillEnumCombo(ControlView &combo, const ParamEnum &param) {
    combo.ResetList();
    int selection = -1;
    for (int i = 0; i < param.EntryCount(); ++i) {
        const std::string &text = param.texts[static_cast<size_t>(i)];
        combo.AddItem(text);
        if (text == param.value) selection = i;
    }
    combo.SetSelection(selection);
    combo.SetReadOnly(true);
}

void ReadComboText(ControlView &combo, Param<std::string> &param) {
    int selection = combo.GetSelection();
    if (selection >= 0 && selection < combo.ItemCount())
        param.value = combo.ItemText(selection);
    else
        param.value = "None";
}

} // namespace kestcam
