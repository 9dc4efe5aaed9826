#pragma once
// An environment variable set (or unset) for the length of a test, then put back as it was.

#include <cstdlib>
#include <optional>
#include <string>

namespace lumora::test {

class ScopedEnv {
public:
    // value nullopt: the variable is unset.
    ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) old_ = old;
        Set(value);
    }
    ~ScopedEnv() { Set(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void Set(const std::optional<std::string>& value) const {
        if (value) setenv(name_.c_str(), value->c_str(), 1);
        else unsetenv(name_.c_str());
    }
    std::string name_;
    std::optional<std::string> old_;
};

} // namespace lumora::test
