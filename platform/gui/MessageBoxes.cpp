// Message boxes behind the seam that tests answer.
#include "platform/gui/MessageBoxes.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QPushButton>

#include "platform/gui/Application.h"

namespace gui {

namespace {

BoxAnswerer& AnswererStore()
{
    static BoxAnswerer answerer;
    return answerer;
}

QString ToQ(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QWidget* BoxOwner()
{
    if (QWidget* active = QApplication::activeModalWidget()) return active;
    if (QWidget* active = QApplication::activeWindow()) return active;
    return MainForm();
}

} // namespace

BoxAnswerer SetBoxAnswerer(BoxAnswerer answerer)
{
    BoxAnswerer previous = std::move(AnswererStore());
    AnswererStore() = std::move(answerer);
    return previous;
}

std::unique_ptr<QMessageBox> MakeMessageBox(const BoxRequest& request, QWidget* parent)
{
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(ToQ(request.caption));
    box->setText(ToQ(request.text));
    box->setTextFormat(Qt::PlainText);
    switch (request.kind) {
    case BoxKind::Question:
    case BoxKind::Warning:
        box->setIcon(request.kind == BoxKind::Question ? QMessageBox::Question : QMessageBox::Warning);
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::No);
        box->setEscapeButton(QMessageBox::No);
        break;
    case BoxKind::Information:
        box->setIcon(QMessageBox::Information);
        box->setStandardButtons(QMessageBox::Ok);
        box->setDefaultButton(QMessageBox::Ok);
        break;
    case BoxKind::Error:
        box->setIcon(QMessageBox::Critical);
        box->setStandardButtons(QMessageBox::Ok);
        box->setDefaultButton(QMessageBox::Ok);
        break;
    }
    // At least as wide as the caption with the window's title-bar buttons.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
        const QFontMetrics metrics(box->font());
        const int width = metrics.horizontalAdvance(box->windowTitle()) + 6 * metrics.height();
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
    return box;
}

BoxButton Show(const BoxRequest& request)
{
    if (AnswererStore()) {
        // A copy, so an answerer that replaces itself stays alive while it runs.
        const BoxAnswerer answerer = AnswererStore();
        return answerer(request);
    }
    auto box = MakeMessageBox(request, BoxOwner());
    const int pressed = box->exec();
    if (request.kind == BoxKind::Question || request.kind == BoxKind::Warning)
        return pressed == QMessageBox::Yes ? BoxButton::Yes : BoxButton::No;
    return BoxButton::Ok;
}

bool AskYesNo(std::string_view text)
{
    return Show({BoxKind::Question, kQuestionCaption, std::string(text)}) == BoxButton::Yes;
}

bool AskYesNoWarning(std::string_view text)
{
    return Show({BoxKind::Warning, kQuestionCaption, std::string(text)}) == BoxButton::Yes;
}

void ShowInformation(std::string_view text, std::string_view caption)
{
    Show({BoxKind::Information, caption.empty() ? ApplicationTitle() : std::string(caption), std::string(text)});
}

void ShowErrorBox(std::string_view text)
{
    Show({BoxKind::Error, ApplicationTitle(), std::string(text)});
}

} // namespace gui
