// The standard property editor: one that keeps its value as a string.
#pragma once

#include <string>

#include "CoreLib/controls/PropGrids.h"

class TStrPropEditor : public TPropEditor {
public:
    explicit TStrPropEditor(std::string name = {}, std::string value = {});

    // The inherited part, then Value; a source of another class fails with
    // rtl::EInvalidCast "Invalid class typecast" before anything is copied.
    void Assign(const TPropEditor& source) override;
    std::string GetValue() override;
    // The user's setter: a different value is stored and notified (code 3).
    void SetValue(const std::string& value) override;

    const std::string& Value() const noexcept { return value_; }
    // The program's setter: a different value is stored and notified (code 2).
    void SetStrValue(const std::string& value);

private:
    std::string value_;
};
