#pragma once
// A fresh folder under the system's temporary folder, removed with everything
// in it at the end of the scope.
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace tunara::testing {

struct TempDir {
    std::filesystem::path path;

    TempDir() {
        std::string templ =
            (std::filesystem::temp_directory_path() / "tunara-test-XXXXXX").string();
        path = ::mkdtemp(templ.data());
    }
    ~TempDir() {
        // A test may have taken the owner's rights away from the folder.
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path; }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    std::string File(const std::string& name) const { return *this / name; }
    // Writes `bytes` to the file `name` in the folder; returns its path.
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        const std::string file = *this / name;
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return file;
    }
    size_t Entries() const {
        return size_t(std::distance(std::filesystem::directory_iterator(path), {}));
    }
};

}  // namespace tunara::testing
