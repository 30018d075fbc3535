// A typed key store for one registry-style key, kept as a text file in the
// registry export format:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Vortan\Sonalyx]
//   "IsInstalled"=dword:00000001
//   "KaSpTm"=hex:00,00,00,00,00,00,24,40
//
// Values of our key are read and written as dwords (32 bits) or binary data.
// Everything else in the file (other keys, values of other kinds, values we
// do not know, comments) is kept as it was read and written back on save, so
// a user's file is never lost. Saving is atomic: a temporary file in the same
// folder is written, flushed to disk and renamed over the old one.
//
// No Qt in here. One store is used by one thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class ValueKind {
    Dword,  // dword:xxxxxxxx (or hex(4): with four bytes)
    Binary, // hex:xx,xx,... (or hex(3):)
    Other,  // strings, other hex(n) types, deletion markers
};

struct KeyValue {
    ValueKind kind = ValueKind::Other;
    uint32_t dword = 0;         // for Dword
    std::vector<uint8_t> bytes; // for Binary and hex(n) kinds
};

enum class LoadResult {
    Ok,      // the file was read
    Missing, // there was no file; an empty key file was created (error() says if that failed)
    Corrupt, // the file could not be parsed and was moved to movedTo(); the key starts empty
    Failed,  // the file exists but could not be read; save() will not replace it
};

class KeyStore {
public:
    static constexpr std::string_view SonalyxKey = "HKEY_CURRENT_USER\\Software\\Vortan\\Sonalyx";

    // $XDG_CONFIG_HOME/Vortan/Sonalyx.reg, or $HOME/.config/Vortan/Sonalyx.reg
    // when XDG_CONFIG_HOME is unset, empty or relative. Read at each call.
    static std::string DefaultPath();

    explicit KeyStore(std::string filePath, std::string_view keyName = SonalyxKey);

    LoadResult load();
    // Writes the whole file atomically. Returns an empty string on success,
    // otherwise the reason it failed (the old file is then left untouched).
    std::string save();

    // The value of our key with this name (names compare case-insensitively).
    std::optional<KeyValue> value(std::string_view name) const;
    void setDword(std::string_view name, uint32_t data);
    void setBinary(std::string_view name, std::vector<uint8_t> data);

    // Copies the file as it is now to the next free "bad" path beside it (the
    // names a corrupt file is moved to) and returns that path; "" when the
    // copy failed, with error() saying why.
    std::string copyAside();

    const std::string& path() const { return path_; }
    // After Corrupt: where the unreadable file was moved ("" if it could not be moved).
    const std::string& movedTo() const { return movedTo_; }
    // Why the last load was Corrupt or Failed, or why a Missing key could not be created.
    const std::string& error() const { return error_; }

private:
    // One value or comment line of a key. Lines we did not change are
    // written back exactly as they were read.
    struct Item {
        std::string raw; // the text as read (continuation lines joined by '\n')
        bool isValue = false;
        std::string name; // unescaped value name; "@" lines have none
        bool hasName = false;
        KeyValue data;
        bool changed = false; // write from data instead of raw
    };
    struct Section {
        std::string raw; // the header line as read, e.g. "[HKEY_...]"
        std::string key; // the text between the brackets
        std::vector<Item> items;
    };

    void reset();
    void parse(std::string_view text);
    LoadResult moveAside();
    Item* findValue(std::string_view name);
    const Item* findValue(std::string_view name) const;
    Item& valueToSet(std::string_view name);
    std::string serialise() const;
    std::string freeBadPath() const;

    std::string path_;
    std::string key_;
    std::string movedTo_;
    std::string error_;
    bool loaded_ = false;
    std::string saveBlocked_;           // why save() must not replace the file
    std::vector<std::string> preamble_; // comment lines before the first key
    std::vector<Section> sections_;
};

} // namespace platform
