// The list view of the core library's dialogs.
//
// On the original platform this list view dropped one header notification
// that its own list style never needs. Qt's list widget sends no such
// notification, so TXListView is the platform's list widget unchanged; it
// stays a class of its own so that forms name the control they use.
#pragma once

#include <QListWidget>

class TXListView : public QListWidget {
    Q_OBJECT
public:
    explicit TXListView(QWidget* parent = nullptr);
};
