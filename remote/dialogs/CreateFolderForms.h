// The prompt for a new folder's name.
#pragma once

#include <string>

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TCreateFolderForm : public QDialog {
    Q_OBJECT
public:
    explicit TCreateFolderForm(QWidget* parent = nullptr);

    QLabel* Label;
    QLineEdit* FolderName;
    QPushButton* Ok;
    QPushButton* Cancel;

    // Ok is enabled exactly when the name, trimmed of blanks, is not empty
    // and holds neither "*" nor "?".
    void FolderNameChange();
};

// True when the name may be given to a new folder (the rule of Ok).
bool IsFolderNameAllowed(const std::string& name);

// Shows the prompt with name in the edit; on OK, name becomes the edit's
// text as typed and the result is true.
bool AskFolderName(std::string& name);
