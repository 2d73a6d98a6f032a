// Our own page viewer, in place of a web browser: a top-level window that
// shows one HTML page with Qt's text browser.
//
// The viewer is deliberately inert: it follows no link (a click on one does
// nothing), loads no resource the page names (images, style sheets, frames)
// and runs nothing. A page is first written to a private file - a name no
// other file has, readable and writable by the owner only, UTF-8 with the
// charset declared - and the window shows what that file holds; the file is
// removed when the window goes. The window is freed when it is closed and
// never keeps the program running after the main window has closed.
#pragma once

#include <string>

#include <QTextBrowser>
#include <QTextDocument>
#include <QWidget>

namespace browser {

// The page text as it is stored: page with a UTF-8 charset declaration in front.
std::string DeclareUtf8(const std::string& page);
// Writes DeclareUtf8(page) into a new file of folder (the temporary folder
// when empty) with mode 0600 and a unique name ending ".html"; returns its
// path. rtl::EOSError when it cannot be written (nothing is left behind).
std::string WritePageFile(const std::string& page, const std::string& folder = std::string());

// A document that loads no resource: Qt's own document would read a local
// file by itself when its view gives nothing.
class TInertDocument : public QTextDocument {
    Q_OBJECT

public:
    explicit TInertDocument(QObject* parent = nullptr) : QTextDocument(parent) {}
    // How many resources were asked for and refused.
    int RefusedResources() const noexcept { return refused_; }

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    int refused_ = 0;
};

// Qt's text browser with links and resources switched off.
class TPageView : public QTextBrowser {
    Q_OBJECT

public:
    explicit TPageView(QWidget* parent = nullptr);

    // Every resource of the page is refused: nothing is read.
    QVariant loadResource(int type, const QUrl& name) override;
    int RefusedResources() const noexcept { return document_->RefusedResources(); }

private:
    TInertDocument* document_;
};

class TBrowserWindow : public QWidget {
    Q_OBJECT

public:
    // A window of its own (also when owner is given: then it goes with its
    // owner at the latest) showing an empty page, not yet visible.
    explicit TBrowserWindow(QWidget* owner = nullptr);
    // Removes the page file.
    ~TBrowserWindow() override;
    TBrowserWindow(const TBrowserWindow&) = delete;
    TBrowserWindow& operator=(const TBrowserWindow&) = delete;

    // An empty page (the previous page file is removed).
    void Blank();
    // Writes page to a new private file and shows that file's text. On
    // failure the error passes on and the window shows an empty page.
    void LoadPage(const std::string& page);

    // The file of the page shown; empty for the empty page.
    const std::string& PageFile() const noexcept { return pageFile_; }
    TPageView& View() noexcept { return *view_; }

private:
    void RemovePageFile() noexcept;

    TPageView* view_;
    std::string pageFile_;
};

} // namespace browser
