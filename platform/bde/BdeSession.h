// The session object: a named group of database objects, with the table
// passwords they use. Database, table and query objects find their session
// by its name, which is unique within the process.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bde {

class TBdeSession {
public:
    TBdeSession();
    ~TBdeSession();
    TBdeSession(const TBdeSession&) = delete;
    TBdeSession& operator=(const TBdeSession&) = delete;

    const std::string& SessionName() const noexcept { return name_; }
    // EBdeError when another session has that name (case-insensitive).
    void SetSessionName(std::string name);

    // Passwords tried on encrypted tables by the databases connected after.
    void AddPassword(const std::string& password);
    void RemoveAllPasswords() noexcept { passwords_.clear(); }
    const std::vector<std::string>& Passwords() const noexcept { return passwords_; }

    // Active while one of its databases is connected; Close disconnects them.
    bool Active() const;
    void Close();

    // The session of that name, nullptr when there is none.
    static TBdeSession* Find(std::string_view name);

private:
    std::string name_;
    std::vector<std::string> passwords_;
};

} // namespace bde
