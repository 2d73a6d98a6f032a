// A folder of its own for a test's files: made with mkdtemp under the system's
// temporary folder, removed with everything in it when the object goes.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace testing_support {

class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "parvane-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
        path_ = pattern;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder, without a trailing "/".
    const std::string& Path() const noexcept { return path_; }
    // A path inside the folder.
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::string operator/(const std::string& name) const { return File(name); }
    // A folder inside the folder, made when missing.
    std::string Sub(const std::string& name) const
    {
        const std::string path = File(name);
        std::filesystem::create_directories(path);
        return path;
    }

private:
    std::string path_;
};

} // namespace testing_support
