// Tests of the page viewer on Qt's offscreen platform: the private page
// file, and a window that follows no link, loads no resource and neither
// keeps the program running nor outlives its closing.
#include "platform/browser/BrowserWindows.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPointer>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>

#include "platform/rtl/Exceptions.h"
#include "tests/CoreLib/controls/WidgetTestSupport.h"
#include "tests/support/TempFolder.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

unsigned Mode(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// Frees windows whose deletion was posted (closed with WA_DeleteOnClose).
void DeletePosted() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

TEST(BrowserPageFile, PrivateUniqueAndDeclaredUtf8)
{
    const testing_support::TempFolder folder;
    const std::string page = "<html><body>Отчёт &amp; таблица</body></html>";
    std::set<std::string> paths;
    for (int i = 0; i < 3; ++i) {
        const std::string path = browser::WritePageFile(page, folder.Path());
        EXPECT_TRUE(paths.insert(path).second) << "name used twice: " << path;
        EXPECT_EQ(std::filesystem::path(path).parent_path(), folder.Path());
        EXPECT_EQ(std::filesystem::path(path).extension(), ".html");
        EXPECT_EQ(Mode(path), 0600u);
        EXPECT_EQ(ReadFile(path), "<meta charset=\"utf-8\">" + page);
    }
    EXPECT_EQ(browser::DeclareUtf8("x"), "<meta charset=\"utf-8\">x");
}

TEST(BrowserPageFile, AFolderThatCannotTakeTheFileIsAClearError)
{
    const testing_support::TempFolder folder;
    try {
        browser::WritePageFile("x", folder.File("missing"));
        ADD_FAILURE() << "nothing raised";
    } catch (const rtl::EOSError& e) {
        EXPECT_NE(std::string(e.what()).find(folder.File("missing")), std::string::npos) << e.what();
    }
}

TEST(BrowserWindow, IsATopLevelWindowThatFreesItselfAndKeepsNothingAlive)
{
    QWidget owner;
    QPointer<browser::TBrowserWindow> window = new browser::TBrowserWindow(&owner);
    EXPECT_TRUE(window->isWindow());
    EXPECT_TRUE(window->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_FALSE(window->testAttribute(Qt::WA_QuitOnClose));
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->View().document()->isEmpty());
    EXPECT_TRUE(window->PageFile().empty());

    window->LoadPage("<p>одна</p>");
    const std::string first = window->PageFile();
    EXPECT_TRUE(std::filesystem::exists(first));
    window->LoadPage("<p>другая</p>");
    const std::string second = window->PageFile();
    EXPECT_FALSE(std::filesystem::exists(first)) << "the previous page file stays behind";
    EXPECT_EQ(window->View().toPlainText().toStdString(), "другая");

    window->show();
    window->close();
    DeletePosted();
    EXPECT_TRUE(window.isNull());
    EXPECT_FALSE(std::filesystem::exists(second));

    // A window still open goes with its owner.
    QPointer<browser::TBrowserWindow> another;
    {
        QWidget shortLived;
        another = new browser::TBrowserWindow(&shortLived);
        another->LoadPage("<p>x</p>");
    }
    EXPECT_TRUE(another.isNull());
}

TEST(BrowserWindow, FollowsNoLinkAndLoadsNoResource)
{
    const testing_support::TempFolder folder;
    const std::string secret = folder.File("secret.html");
    std::ofstream(secret) << "<p>SECRET</p>";
    const std::string image = folder.File("picture.png");
    std::ofstream(image) << "not really a picture";

    browser::TBrowserWindow window;
    const QString fileUrl = QUrl::fromLocalFile(QString::fromStdString(secret)).toString();
    const QString imageUrl = QUrl::fromLocalFile(QString::fromStdString(image)).toString();
    window.LoadPage("<html><head><link rel=stylesheet href=\"" + imageUrl.toStdString() + "\"></head><body>"
                    "<a href=\"" + fileUrl.toStdString() + "\">LINK</a> <a href=\"https://example.org/\">WEB</a>"
                    "<img src=\"" + imageUrl.toStdString() + "\"><script>document.write('RAN')</script>"
                    "</body></html>");
    window.resize(400, 200);
    window.show();
    browser::TPageView& view = window.View();
    EXPECT_FALSE(view.openLinks());
    EXPECT_FALSE(view.openExternalLinks());
    EXPECT_GT(view.RefusedResources(), 0);
    EXPECT_TRUE(view.document()->resource(QTextDocument::ImageResource, QUrl(imageUrl)).isNull());

    const QString before = view.toHtml();
    for (const char* text : {"LINK", "WEB"}) {
        SCOPED_TRACE(text);
        int clicked = 0;
        const QMetaObject::Connection counting =
            QObject::connect(&view, &QTextBrowser::anchorClicked, [&clicked] { ++clicked; });
        const QTextCursor at = view.document()->find(text);
        ASSERT_FALSE(at.isNull());
        QTextCursor inside = at;
        inside.setPosition(at.selectionStart() + 1);
        widgettest::Click(view.viewport(), view.cursorRect(inside).center());
        QCoreApplication::processEvents();
        QObject::disconnect(counting);
        EXPECT_EQ(clicked, 1) << "the click did not reach the link";
        EXPECT_TRUE(view.source().isEmpty());
        EXPECT_EQ(view.toHtml(), before);
    }
    EXPECT_EQ(view.toPlainText().toStdString().find("SECRET"), std::string::npos);
    EXPECT_EQ(view.toPlainText().toStdString().find("RAN"), std::string::npos);
}

} // namespace
