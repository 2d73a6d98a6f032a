// The log file of the main window: one entry per event, the text followed
// by CR LF, in Windows-1251 bytes, appended to the file for the window's
// whole life.
//
// The file is created when missing and kept open for writing with an
// exclusive advisory lock, so a second program on the same log is refused;
// readers need no lock. Opening never raises: a log that cannot be opened
// keeps its reason, and the window shows it once and refuses runs that
// would have to write to it.
#pragma once

#include <string>

class TRunLog {
public:
    // The program file's path with ".log" appended.
    static std::string DefaultPath();

    TRunLog() = default;
    ~TRunLog();
    TRunLog(const TRunLog&) = delete;
    TRunLog& operator=(const TRunLog&) = delete;

    // Opens (creating when missing) path for appending; false with Error()
    // set when it cannot be opened or is held by another writer.
    bool Open(const std::string& path);
    void Close() noexcept;
    bool IsOpen() const noexcept { return fd_ >= 0; }
    const std::string& Path() const noexcept { return path_; }
    // Why the log could not be opened (path and reason); empty when open.
    const std::string& Error() const noexcept { return error_; }

    // Appends entry (UTF-8) as Windows-1251 bytes and CR LF; rtl::Exception
    // when the log is not open, a character has no Windows-1251 byte or the
    // write fails.
    void Write(const std::string& entry);

private:
    int fd_ = -1;
    std::string path_;
    std::string error_;
};
