// The list view of the core library's dialogs.
#include "CoreLib/controls/XListView.h"

TXListView::TXListView(QWidget* parent) : QListWidget(parent) {}
