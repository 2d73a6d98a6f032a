// Message boxes: questions, information and the error box, behind one seam.
//
// Every box of the program goes through Show(BoxRequest). Without an
// answerer a real QMessageBox runs modally; tests install an answerer that
// sees the request (kind, caption, text) and returns the button it "pressed",
// so no test ever blocks on a box.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QMessageBox;
class QWidget;

namespace gui {

enum class BoxKind {
    Question,    // Yes and No, question icon, No the default button
    Warning,     // Yes and No, warning icon, No the default button
    Information, // OK, information icon
    Error,       // OK, stop icon
};

enum class BoxButton { Ok, Yes, No };

struct BoxRequest {
    BoxKind kind = BoxKind::Information;
    std::string caption;
    std::string text;
};

// The caption of every question.
inline constexpr const char* kQuestionCaption = "Предупреждение";

using BoxAnswerer = std::function<BoxButton(const BoxRequest&)>;

// Installs an answerer (empty: the real boxes again); returns the previous one.
BoxAnswerer SetBoxAnswerer(BoxAnswerer answerer);

class ScopedBoxAnswerer {
public:
    explicit ScopedBoxAnswerer(BoxAnswerer answerer) : previous_(SetBoxAnswerer(std::move(answerer))) {}
    ~ScopedBoxAnswerer() { SetBoxAnswerer(std::move(previous_)); }
    ScopedBoxAnswerer(const ScopedBoxAnswerer&) = delete;
    ScopedBoxAnswerer& operator=(const ScopedBoxAnswerer&) = delete;

private:
    BoxAnswerer previous_;
};

// Shows a box and returns the button pressed (No for a question closed
// without an answer, Ok for the others).
BoxButton Show(const BoxRequest& request);

// A Yes/No question with the caption "Предупреждение"; true for Yes.
bool AskYesNo(std::string_view text);
// The same with the warning icon.
bool AskYesNoWarning(std::string_view text);
// An information box; an empty caption stands for the application title.
void ShowInformation(std::string_view text, std::string_view caption = {});
// The error box: the application title as caption, the stop icon.
void ShowErrorBox(std::string_view text);

// The real box for a request, set up but not shown: icon, buttons, default
// button, caption and text. Owned by parent (no owner when nullptr).
std::unique_ptr<QMessageBox> MakeMessageBox(const BoxRequest& request, QWidget* parent);

} // namespace gui
