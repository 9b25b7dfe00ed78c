#pragma once
// Sets (or with nullopt unsets) environment variables for one scope and puts
// the old values back at its end, in reverse order.
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tunara::testing {

class ScopedEnv {
public:
    ScopedEnv() = default;
    ScopedEnv(const std::string& name, const std::optional<std::string>& value) {
        Set(name, value);
    }
    ~ScopedEnv() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) Apply(it->first, it->second);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    ScopedEnv& Set(const std::string& name, const std::optional<std::string>& value) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        Apply(name, value);
        return *this;
    }

private:
    static void Apply(const std::string& name, const std::optional<std::string>& value) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace tunara::testing
