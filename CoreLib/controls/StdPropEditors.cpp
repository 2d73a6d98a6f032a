// The string property editor.
#include "CoreLib/controls/StdPropEditors.h"

#include "platform/rtl/Exceptions.h"

TStrPropEditor::TStrPropEditor(std::string name, std::string value)
    : TPropEditor(std::move(name)), value_(std::move(value))
{
}

void TStrPropEditor::Assign(const TPropEditor& source)
{
    const auto* str = dynamic_cast<const TStrPropEditor*>(&source);
    if (!str) throw rtl::EInvalidCast(rtl::SInvalidCast);
    TPropEditor::Assign(source);
    SetStrValue(str->value_);
}

std::string TStrPropEditor::GetValue()
{
    return value_;
}

void TStrPropEditor::SetValue(const std::string& value)
{
    if (value == value_) return;
    value_ = value;
    Notify(pnValueSetByUser);
}

void TStrPropEditor::SetStrValue(const std::string& value)
{
    if (value == value_) return;
    value_ = value;
    Notify(pnValueSetByProgram);
}
