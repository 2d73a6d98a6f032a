// Tests of HTML reports in the page viewer on Qt's offscreen platform: the
// page a report writes and shows, the window's owner and lifetime, and a
// screenshot of a report for a person to look at.
#include "CoreLib/controls/HTMLReports.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QWidget>

#include "CoreLib/HTMLReportUtils.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string kBody =
    "<h2>Замена идентификаторов пространственных объектов</h2>"
    "<font color=red>Ошибка(и): Не найдены семантические таблицы:</font><br>"
    "<table cellspacing=0 cellpadding=0><thead><tr><th>Сем. таблица</th><th>Физ. имя таблицы</th><th>Тип</th></thead>"
    "<tr><td>Дороги</td><td>SEM_ROADS</td><td>один-к-одному</td></tr>"
    "<tr><td>Владельцы</td><td>SEM_OWNERS</td><td>один-ко-многим</td></tr>"
    "<tr><td>&lt;b&gt;x&amp;y</td><td>&lt;b&gt;x&amp;y</td><td>не известно</td></tr></table>";

TEST(HTMLReports, AReportIsShownInANewVisibleWindowFromItsPrivateFile)
{
    QWidget owner;
    TBrowserRef browser;
    ShowHTMLReport(kBody, browser, &owner);
    ASSERT_FALSE(browser.isNull());
    EXPECT_TRUE(browser->isVisible());
    EXPECT_TRUE(browser->isWindow());
    EXPECT_EQ(browser->parentWidget(), &owner);
    EXPECT_EQ(ReadFile(browser->PageFile()), "<meta charset=\"utf-8\">" + HTMLPageHeader() + kBody + "</body></html>");
    const std::string text = browser->View().toPlainText().toStdString();
    EXPECT_NE(text.find("Ошибка(и): Не найдены семантические таблицы:"), std::string::npos) << text;
    EXPECT_NE(text.find("<b>x&y"), std::string::npos) << text;

    // Each report gets a window of its own.
    TBrowserRef second;
    ShowHTMLPage("<html><body>", "<p>второй</p>", "</body></html>", second, &owner);
    EXPECT_NE(second.data(), browser.data());
    EXPECT_NE(second->PageFile(), browser->PageFile());
    EXPECT_EQ(second->View().toPlainText().toStdString(), "второй");

    browser->resize(640, 300);
    const QImage shot = browser->grab().toImage();
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath("HTMLReport.png");
    ASSERT_TRUE(shot.save(path, "PNG"));
    const QImage saved(path);
    ASSERT_FALSE(saved.isNull());
    std::set<QRgb> colours;
    for (int y = 0; y < saved.height(); y += 3)
        for (int x = 0; x < saved.width(); x += 3) colours.insert(saved.pixel(x, y));
    EXPECT_GT(colours.size(), 3u) << "the screenshot shows no page";

    const std::string file = browser->PageFile();
    browser->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(browser.isNull());
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(HTMLReports, ANewWindowIsBlankHiddenAndOwnedByTheGivenWindow)
{
    QWidget owner;
    TBrowserRef browser;
    NewBrowserWindow(browser, &owner);
    ASSERT_FALSE(browser.isNull());
    EXPECT_FALSE(browser->isVisible());
    EXPECT_TRUE(browser->View().document()->isEmpty());
    EXPECT_EQ(browser->parentWidget(), &owner);
}

} // namespace
