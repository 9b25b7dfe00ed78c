#pragma once
// A fresh folder under the system's temporary folder, removed with everything
// in it at the end of the scope.
#include <stdlib.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <system_error>

namespace tunara::testing {

struct TempDir {
    std::filesystem::path path;

    TempDir() {
        std::string templ =
            (std::filesystem::temp_directory_path() / "tunara-test-XXXXXX").string();
        path = ::mkdtemp(templ.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path; }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    size_t Entries() const {
        return size_t(std::distance(std::filesystem::directory_iterator(path), {}));
    }
};

}  // namespace tunara::testing
