#pragma once
// The per-user settings store: keys and subkeys holding named values of two
// types, 32-bit numbers (DWORD) and texts. Key paths and value names compare
// without regard to case and keep the spelling they were created with.
//
// One store is one text file; the user's is
// $XDG_CONFIG_HOME/Korvan/Tunara/settings (default ~/.config/...), and its
// root key stands for the program's own base key. A key handle reads the
// file when it is opened and answers queries from that snapshot; its changes
// reach the file on Flush or Close, merged into the file as it is then, under
// a lock, so that two handles (or two processes) never lose each other's
// values. Every save is atomic: a temporary file in the same folder is
// written, synced and renamed over the store, so a crash or a full disk
// leaves the previous store whole, and what such a save left behind is
// removed later. Every line of the file that reads is used; a file that does
// not read whole is kept aside (settings.unreadable, settings.unreadable.1,
// ...) when the store is next saved.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tunara::registry {

enum class Status {
    Ok = 0,
    NotFound,   // no such key or value
    WrongType,  // the value has the other type
    MoreData,   // the text does not fit the buffer size given
    BadName,    // empty, or holding a character the store cannot keep
    IoError,    // the store could not be written (the change is lost)
    NotOpen,    // the key handle is not open
};
const char* StatusText(Status status);

enum class ValueType { Dword, String };

// $XDG_CONFIG_HOME/Korvan/Tunara (an unset or relative XDG_CONFIG_HOME means
// ~/.config), read from the environment on every call.
std::filesystem::path UserStoreFolder();
std::filesystem::path UserStoreFile();

class Key {
public:
    Key();
    ~Key();  // closes (and so flushes) an open key
    Key(Key&&) noexcept;
    Key& operator=(Key&&) noexcept;

    // Opens the key at `path` ("" is the root; levels separated by '\' or
    // '/') of the store in `storeFile`. With `create` a missing key (and its
    // parents) is made, and saved by Flush or Close. Returns Ok, NotFound,
    // BadName.
    static Status Open(const std::filesystem::path& storeFile, std::string_view path, bool create,
                       Key& key);
    // The same on the user's store.
    static Status OpenUser(std::string_view path, bool create, Key& key);

    bool IsOpen() const;

    // Returns Ok, NotFound, WrongType, NotOpen.
    Status QueryDword(std::string_view name, uint32_t& value) const;
    // `bufferBytes` is the room for the text and its terminating zero; a
    // longer text gives MoreData and leaves `value` alone.
    // Returns Ok, NotFound, WrongType, MoreData, NotOpen.
    Status QueryString(std::string_view name, std::string& value,
                       size_t bufferBytes = std::numeric_limits<size_t>::max()) const;
    Status QueryType(std::string_view name, ValueType& type) const;
    std::vector<std::string> ValueNames() const;
    std::vector<std::string> SubkeyNames() const;

    // Changes wait in the handle until Flush or Close. Return Ok, BadName, NotOpen.
    Status SetDword(std::string_view name, uint32_t value);
    Status SetString(std::string_view name, std::string_view value);
    // Returns Ok, NotFound, NotOpen.
    Status DeleteValue(std::string_view name);

    // Saves the pending changes; the key stays open. Returns Ok, IoError, NotOpen.
    Status Flush();
    // Flushes and closes. Returns what Flush returned (Ok for a closed key).
    Status Close();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tunara::registry
