// The page viewer: the private page file and the inert text-browser window.
#include "platform/browser/BrowserWindows.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QVBoxLayout>

#include "platform/gui/Application.h"
#include "platform/rtl/Exceptions.h"

namespace browser {

namespace {

constexpr const char* kCharset = "<meta charset=\"utf-8\">";
constexpr const char* kFileName = "page-XXXXXX.html";
constexpr int kSuffixLength = 5; // ".html"

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error)
{
    throw rtl::EOSError(what + " \"" + path + "\": " + std::strerror(error));
}

// Closes a descriptor when it goes out of scope.
class TFd {
public:
    explicit TFd(int fd) noexcept : fd_(fd) {}
    ~TFd()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const noexcept { return fd_; }
    // Closes now; the close's error number, 0 when it succeeded.
    int Close() noexcept
    {
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int fd_;
};

void WriteAll(int fd, const std::string& bytes, const std::string& path)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail("Не удалось записать страницу в файл", path, errno);
        }
        done += static_cast<std::size_t>(n);
    }
}

std::string ReadAll(const std::string& path)
{
    const TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) Fail("Не удалось прочитать страницу из файла", path, errno);
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail("Не удалось прочитать страницу из файла", path, errno);
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

} // namespace

std::string DeclareUtf8(const std::string& page) { return kCharset + page; }

std::string WritePageFile(const std::string& page, const std::string& folder)
{
    const std::filesystem::path dir = folder.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(folder);
    std::string path = (dir / kFileName).string();
    // mkstemps makes the file with a name nobody has, for the owner only.
    TFd fd(::mkstemps(path.data(), kSuffixLength));
    if (fd.Get() < 0) Fail("Не удалось создать файл страницы", path, errno);
    try {
        if (::fchmod(fd.Get(), S_IRUSR | S_IWUSR) != 0) Fail("Не удалось создать файл страницы", path, errno);
        WriteAll(fd.Get(), DeclareUtf8(page), path);
        if (const int error = fd.Close(); error != 0) Fail("Не удалось записать страницу в файл", path, error);
    } catch (...) {
        ::unlink(path.c_str());
        throw;
    }
    return path;
}

// ---- TPageView --------------------------------------------------------------------------

QVariant TInertDocument::loadResource(int, const QUrl&)
{
    ++refused_;
    return QVariant();
}

TPageView::TPageView(QWidget* parent) : QTextBrowser(parent), document_(new TInertDocument(this))
{
    setDocument(document_);
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setSearchPaths({});
}

QVariant TPageView::loadResource(int, const QUrl&) { return QVariant(); }

// ---- TBrowserWindow ---------------------------------------------------------------------

TBrowserWindow::TBrowserWindow(QWidget* owner) : QWidget(owner, Qt::Window), view_(new TPageView(this))
{
    setAttribute(Qt::WA_DeleteOnClose, true);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QString::fromStdString(gui::ApplicationTitle()));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    resize(640, 480);
    gui::CenterOnMainForm(*this);
}

TBrowserWindow::~TBrowserWindow() { RemovePageFile(); }

void TBrowserWindow::RemovePageFile() noexcept
{
    if (pageFile_.empty()) return;
    ::unlink(pageFile_.c_str());
    pageFile_.clear();
}

void TBrowserWindow::Blank()
{
    view_->clear();
    RemovePageFile();
}

void TBrowserWindow::LoadPage(const std::string& page)
{
    Blank();
    pageFile_ = WritePageFile(page);
    try {
        view_->setHtml(QString::fromStdString(ReadAll(pageFile_)));
    } catch (...) {
        Blank();
        throw;
    }
}

} // namespace browser
