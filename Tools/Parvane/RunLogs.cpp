// The log file of the main window.
#include "Tools/Parvane/RunLogs.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/SysUtils.h"

namespace {

constexpr const char* kLogNotOpen = "Лог-файл не открыт";
constexpr const char* kCannotOpen = "Не удалось открыть лог-файл \"%s\": %s";
constexpr const char* kHeldByAnother = "Не удалось открыть лог-файл \"%s\": он открыт другой программой";
constexpr const char* kCannotWrite = "Не удалось записать в лог-файл \"%s\": %s";

} // namespace

std::string TRunLog::DefaultPath() { return rtl::ProgramFileName() + ".log"; }

TRunLog::~TRunLog() { Close(); }

bool TRunLog::Open(const std::string& path)
{
    Close();
    path_ = path;
    error_.clear();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        error_ = rtl::Format(kCannotOpen, path.c_str(), rtl::SysErrorMessage(errno).c_str());
        return false;
    }
    // Other writers are denied; readers take no lock and still read.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        error_ = error == EWOULDBLOCK ? rtl::Format(kHeldByAnother, path.c_str())
                                      : rtl::Format(kCannotOpen, path.c_str(), rtl::SysErrorMessage(error).c_str());
        return false;
    }
    fd_ = fd;
    return true;
}

void TRunLog::Close() noexcept
{
    if (fd_ >= 0) {
        ::close(fd_); // releases the lock
        fd_ = -1;
    }
}

void TRunLog::Write(const std::string& entry)
{
    if (fd_ < 0) throw rtl::Exception(error_.empty() ? kLogNotOpen : error_);
    const std::string bytes = rtl::Utf8ToCp1251(entry) + "\r\n";
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw rtl::Exception(rtl::Format(kCannotWrite, path_.c_str(), rtl::SysErrorMessage(errno).c_str()));
        }
        done += static_cast<std::size_t>(n);
    }
}
