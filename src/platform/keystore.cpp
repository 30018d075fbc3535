#include "platform/keystore.h"

#include "platform/atomicfile.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr std::string_view HeaderV5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view HeaderV4 = "REGEDIT4";
constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
// The export format breaks long hex values so that no line exceeds 80 columns.
constexpr size_t MaxLineWidth = 80;

struct ParseError : std::runtime_error {
    ParseError(int line, const std::string& what) : std::runtime_error("line " + std::to_string(line) + ": " + what) {}
};

std::string ErrnoText(int err)
{
    return std::error_code(err, std::generic_category()).message();
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Registry names compare without regard to (ASCII) case.
bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = LowerAscii(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Parses 1 to maxDigits hex digits; nothing else may follow.
std::optional<uint32_t> ParseHex(std::string_view digits, size_t maxDigits)
{
    if (digits.empty() || digits.size() > maxDigits)
        return std::nullopt;
    uint32_t value = 0;
    for (char c : digits) {
        int d = HexDigit(c);
        if (d < 0)
            return std::nullopt;
        value = value * 16 + static_cast<uint32_t>(d);
    }
    return value;
}

// ---- reading ---------------------------------------------------------------

// A line of the file after joining the continuation lines of long values.
struct LogicalLine {
    int number = 0;   // first physical line, counted from 1
    std::string raw;  // the physical lines joined by '\n'
    std::string text; // the content with continuations removed, trimmed
};

std::vector<std::string_view> PhysicalLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool StartsValue(std::string_view trimmed)
{
    return !trimmed.empty() && (trimmed.front() == '"' || trimmed.front() == '@');
}

// A value line ending in a backslash continues on the next line.
std::vector<LogicalLine> LogicalLines(std::string_view text)
{
    std::vector<std::string_view> physical = PhysicalLines(text);
    std::vector<LogicalLine> lines;
    for (size_t i = 0; i < physical.size(); ++i) {
        LogicalLine line{static_cast<int>(i + 1), std::string(physical[i]), std::string(Trim(physical[i]))};
        while (StartsValue(line.text) && !line.text.empty() && line.text.back() == '\\') {
            if (++i == physical.size())
                throw ParseError(line.number, "the value continues past the end of the file");
            line.text.pop_back();
            line.text += Trim(physical[i]);
            line.raw += '\n';
            line.raw += physical[i];
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// Reads the quoted text starting at text[pos] == '"' and moves pos past the
// closing quote. Only \\ and \" are escapes; strictEscapes rejects others.
std::string ParseQuoted(std::string_view text, size_t& pos, int lineNo, bool strictEscapes)
{
    std::string out;
    for (++pos; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\' && pos + 1 < text.size()) {
            char next = text[pos + 1];
            if (next == '\\' || next == '"') {
                out += next;
                ++pos;
                continue;
            }
            if (strictEscapes)
                throw ParseError(lineNo, "unknown escape in a value name");
        }
        out += c;
    }
    throw ParseError(lineNo, "missing closing quote");
}

std::vector<uint8_t> ParseBytes(std::string_view list, int lineNo)
{
    std::vector<uint8_t> bytes;
    list = Trim(list);
    if (!list.empty() && list.back() == ',')
        list.remove_suffix(1);
    while (!list.empty()) {
        size_t comma = list.find(',');
        std::optional<uint32_t> byte = ParseHex(Trim(list.substr(0, comma)), 2);
        if (!byte)
            throw ParseError(lineNo, "a hex value holds something other than bytes");
        bytes.push_back(static_cast<uint8_t>(*byte));
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
    return bytes;
}

// hex(n): data; n = 3 is binary, n = 4 with four bytes a little-endian dword.
KeyValue ParseTypedHex(std::string_view data, int lineNo)
{
    size_t close = data.find("):");
    std::optional<uint32_t> type = close == std::string_view::npos ? std::nullopt
                                                                   : ParseHex(data.substr(4, close - 4), 8);
    if (!type)
        throw ParseError(lineNo, "malformed hex(type) value");
    KeyValue value;
    value.bytes = ParseBytes(data.substr(close + 2), lineNo);
    if (*type == 3) {
        value.kind = ValueKind::Binary;
    } else if (*type == 4 && value.bytes.size() == 4) {
        value.kind = ValueKind::Dword;
        for (int i = 3; i >= 0; --i)
            value.dword = (value.dword << 8) | value.bytes[static_cast<size_t>(i)];
    }
    return value;
}

KeyValue ParseData(std::string_view data, int lineNo)
{
    KeyValue value;
    if (data == "-")
        return value; // deletion marker: kept, but not a dword or binary
    if (data.starts_with('"')) {
        size_t pos = 0;
        ParseQuoted(data, pos, lineNo, false);
        if (!Trim(data.substr(pos)).empty())
            throw ParseError(lineNo, "text after the closing quote");
        return value;
    }
    if (StartsWithNoCase(data, "dword:")) {
        std::optional<uint32_t> dword = ParseHex(Trim(data.substr(6)), 8);
        if (!dword)
            throw ParseError(lineNo, "a dword needs 1 to 8 hex digits");
        value.kind = ValueKind::Dword;
        value.dword = *dword;
        return value;
    }
    if (StartsWithNoCase(data, "hex:")) {
        value.kind = ValueKind::Binary;
        value.bytes = ParseBytes(data.substr(4), lineNo);
        return value;
    }
    if (StartsWithNoCase(data, "hex("))
        return ParseTypedHex(data, lineNo);
    throw ParseError(lineNo, "unknown kind of value");
}

// ---- writing ---------------------------------------------------------------

std::string QuoteName(std::string_view name)
{
    std::string out = "\"";
    for (char c : name) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + '"';
}

std::string FormatHex(uint32_t value, int digits)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string out(static_cast<size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        out[static_cast<size_t>(i)] = Digits[value & 0xF];
    return out;
}

std::string FormatValue(const std::string& name, const KeyValue& value)
{
    std::string line = QuoteName(name) + "=";
    if (value.kind == ValueKind::Dword)
        return line + "dword:" + FormatHex(value.dword, 8);
    line += "hex:";
    std::string text;
    for (size_t i = 0; i < value.bytes.size(); ++i) {
        std::string token = FormatHex(value.bytes[i], 2) + (i + 1 < value.bytes.size() ? "," : "");
        // Leave room for the continuation backslash.
        if (line.size() + token.size() + 1 > MaxLineWidth && line.size() > 2) {
            text += line + "\\\n";
            line = "  ";
        }
        line += token;
    }
    return text + line;
}

// ---- files -----------------------------------------------------------------

enum class ReadStatus { Read, NoFile, Failed };

ReadStatus ReadWholeFile(const std::string& path, std::string& content, std::string& error)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) // ENOTDIR: a folder on the way is a file
            return ReadStatus::NoFile;
        error = ErrnoText(errno);
        return ReadStatus::Failed;
    }
    content.clear();
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = ErrnoText(errno);
            ::close(fd);
            return ReadStatus::Failed;
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return ReadStatus::Read;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string HomeDir()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return ".";
}

} // namespace

// ---- KeyStore ----------------------------------------------------------------

std::string KeyStore::DefaultPath()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base = (xdg && xdg[0] == '/') ? std::string(xdg) : HomeDir() + "/.config";
    return base + "/Vortan/Sonalyx.reg";
}

KeyStore::KeyStore(std::string filePath, std::string_view keyName) : path_(std::move(filePath)), key_(keyName) {}

void KeyStore::reset()
{
    movedTo_.clear();
    error_.clear();
    saveBlocked_.clear();
    preamble_.clear();
    sections_.clear();
    loaded_ = false;
}

LoadResult KeyStore::load()
{
    reset();
    std::string content;
    const ReadStatus status = ReadWholeFile(path_, content, error_);
    loaded_ = true;
    if (status == ReadStatus::NoFile) {
        error_ = save(); // a load creates the key when it is missing
        return LoadResult::Missing;
    }
    if (status == ReadStatus::Failed) {
        saveBlocked_ = "the existing file could not be read (" + error_ + "), so it is left as it is";
        return LoadResult::Failed;
    }
    try {
        parse(content);
        return LoadResult::Ok;
    } catch (const ParseError& e) {
        error_ = e.what();
    }
    return moveAside();
}

// The unparsable file is renamed, never overwritten; the key starts empty.
LoadResult KeyStore::moveAside()
{
    preamble_.clear();
    sections_.clear();
    const std::string bad = freeBadPath();
    if (::rename(path_.c_str(), bad.c_str()) != 0) {
        error_ += "; it could not be moved to " + bad + ": " + ErrnoText(errno);
        saveBlocked_ = "the unreadable file could not be moved aside, so it is left as it is";
        return LoadResult::Corrupt;
    }
    movedTo_ = bad;
    save(); // best effort; a failure shows again at the next save
    return LoadResult::Corrupt;
}

// Sonalyx.reg.bad, or Sonalyx.reg.bad.1, .2, ... so that no earlier bad file is overwritten.
std::string KeyStore::freeBadPath() const
{
    std::string bad = path_ + ".bad";
    for (int n = 1; Exists(bad); ++n)
        bad = path_ + ".bad." + std::to_string(n);
    return bad;
}

std::string KeyStore::copyAside()
{
    std::string content;
    if (ReadWholeFile(path_, content, error_) != ReadStatus::Read)
        return "";
    const std::string bad = freeBadPath();
    error_ = ReplaceFileAtomically(bad, content);
    return error_.empty() ? bad : "";
}

void KeyStore::parse(std::string_view text)
{
    if (text.starts_with(Utf8Bom))
        text.remove_prefix(Utf8Bom.size());
    bool headerSeen = false;
    for (LogicalLine& line : LogicalLines(text)) {
        const std::string_view t = line.text;
        if (t.empty())
            continue;
        if (t.front() == ';') {
            if (sections_.empty()) {
                preamble_.push_back(line.raw);
            } else {
                Item comment;
                comment.raw = line.raw;
                sections_.back().items.push_back(std::move(comment));
            }
            continue;
        }
        if (!headerSeen) {
            if (t != HeaderV5 && t != HeaderV4)
                throw ParseError(line.number, "the file does not start with \"" + std::string(HeaderV5) + "\"");
            headerSeen = true;
            continue;
        }
        if (t.front() == '[') {
            if (t.back() != ']')
                throw ParseError(line.number, "missing ']' after the key name");
            sections_.push_back(Section{std::string(t), std::string(t.substr(1, t.size() - 2)), {}});
            continue;
        }
        if (!StartsValue(t))
            throw ParseError(line.number, "neither a key, a value nor a comment");
        if (sections_.empty())
            throw ParseError(line.number, "a value before the first key");

        Item item;
        item.raw = line.raw;
        item.isValue = true;
        size_t pos = 1;
        if (t.front() == '"') {
            pos = 0;
            item.name = ParseQuoted(t, pos, line.number, true);
            item.hasName = true;
        }
        std::string_view rest = Trim(t.substr(pos));
        if (!rest.starts_with('='))
            throw ParseError(line.number, "missing '=' after the value name");
        item.data = ParseData(Trim(rest.substr(1)), line.number);
        sections_.back().items.push_back(std::move(item));
    }
    if (!headerSeen && !preamble_.empty())
        throw ParseError(1, "the file holds only comments");
    // A file with nothing in it (not even a header) is an empty key.
}

// The last value of that name in a section of our key is the one in effect,
// as when the file is imported.
const KeyStore::Item* KeyStore::findValue(std::string_view name) const
{
    const Item* found = nullptr;
    for (const Section& section : sections_) {
        if (!SameName(section.key, key_))
            continue;
        for (const Item& item : section.items)
            if (item.isValue && item.hasName && SameName(item.name, name))
                found = &item;
    }
    return found;
}

KeyStore::Item* KeyStore::findValue(std::string_view name)
{
    return const_cast<Item*>(static_cast<const KeyStore*>(this)->findValue(name));
}

KeyStore::Item& KeyStore::valueToSet(std::string_view name)
{
    Item* item = findValue(name);
    if (!item) {
        Section* ours = nullptr;
        for (Section& section : sections_)
            if (SameName(section.key, key_))
                ours = &section;
        if (!ours)
            ours = &sections_.emplace_back(Section{"[" + key_ + "]", key_, {}});
        item = &ours->items.emplace_back();
        item->isValue = true;
        item->hasName = true;
        item->name = std::string(name);
    }
    item->changed = true;
    return *item;
}

std::optional<KeyValue> KeyStore::value(std::string_view name) const
{
    const Item* item = findValue(name);
    if (!item)
        return std::nullopt;
    return item->data;
}

void KeyStore::setDword(std::string_view name, uint32_t data)
{
    Item& item = valueToSet(name);
    item.data = KeyValue{ValueKind::Dword, data, {}};
}

void KeyStore::setBinary(std::string_view name, std::vector<uint8_t> data)
{
    Item& item = valueToSet(name);
    item.data = KeyValue{ValueKind::Binary, 0, std::move(data)};
}

std::string KeyStore::serialise() const
{
    std::string out = std::string(HeaderV5) + "\n\n";
    for (const std::string& comment : preamble_)
        out += comment + "\n";
    if (!preamble_.empty())
        out += "\n";
    bool hasOurKey = false;
    for (const Section& section : sections_)
        hasOurKey = hasOurKey || SameName(section.key, key_);
    if (!hasOurKey)
        out += "[" + key_ + "]\n\n";
    for (const Section& section : sections_) {
        out += section.raw + "\n";
        for (const Item& item : section.items)
            out += (item.changed ? FormatValue(item.name, item.data) : item.raw) + "\n";
        out += "\n";
    }
    return out;
}

std::string KeyStore::save()
{
    if (!loaded_)
        return "the settings file was not loaded before saving";
    if (!saveBlocked_.empty())
        return saveBlocked_;
    return ReplaceFileAtomically(path_, serialise());
}

} // namespace platform
