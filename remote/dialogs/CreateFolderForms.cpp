// The new-folder prompt.
#include "remote/dialogs/CreateFolderForms.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/HandlerGuard.h"
#include "platform/rtl/TextUtils.h"

namespace {

// Texts of the form.
constexpr const char* kCaption = "Создание папки";
constexpr const char* kPrompt = "Введите название новой папки:";
constexpr const char* kOk = "Создать";
constexpr const char* kCancel = "Отмена";

QString ToQ(const char* text)
{
    return QString::fromUtf8(text);
}

} // namespace

bool IsFolderNameAllowed(const std::string& name)
{
    const std::string trimmed = rtl::Trim(name);
    return !trimmed.empty() && trimmed.find_first_of("*?") == std::string::npos;
}

TCreateFolderForm::TCreateFolderForm(QWidget* parent)
    : QDialog(parent),
      Label(new QLabel(ToQ(kPrompt), this)),
      FolderName(new QLineEdit(this)),
      Ok(new QPushButton(ToQ(kOk), this)),
      Cancel(new QPushButton(ToQ(kCancel), this))
{
    setWindowTitle(ToQ(kCaption));
    Label->setObjectName("Label");
    FolderName->setObjectName("FolderName");
    Ok->setObjectName("Ok");
    Cancel->setObjectName("Cancel");
    Label->setBuddy(FolderName);
    Ok->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label);
    layout->addWidget(FolderName);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Ok);
    buttons->addWidget(Cancel);
    layout->addLayout(buttons);
    resize(340, 120);
    gui::CenterOnMainForm(*this);

    connect(FolderName, &QLineEdit::textChanged, this, gui::Guarded([this] { FolderNameChange(); }));
    connect(Ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(Cancel, &QPushButton::clicked, this, &QDialog::reject);
    FolderNameChange();
    FolderName->setFocus();
}

void TCreateFolderForm::FolderNameChange()
{
    Ok->setEnabled(IsFolderNameAllowed(FolderName->text().toStdString()));
}

bool AskFolderName(std::string& name)
{
    TCreateFolderForm form;
    form.FolderName->setText(QString::fromStdString(name));
    if (!gui::ShowModalOk(form)) return false;
    name = form.FolderName->text().toStdString();
    return true;
}
