#include "flashmate/ini_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace {

constexpr std::string_view kBlanks = " \t";
// New files are readable by all and writable by their owner, as the umask leaves them.
constexpr mode_t kNewFileMode = 0666;
constexpr size_t kReadPiece = 4096;

std::string_view Trim(std::string_view text)
{
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool IsComment(std::string_view trimmed)
{
    return !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
}

// The section name of a "[name]" line.
std::optional<std::string_view> SectionName(std::string_view content)
{
    const std::string_view trimmed = Trim(content);
    if (trimmed.empty() || trimmed.front() != '[') {
        return std::nullopt;
    }
    const size_t close = trimmed.find(']');
    return Trim(trimmed.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
    size_t valueStart;  // where the value's text begins in the line
};

std::optional<KeyLine> ParseKey(std::string_view content)
{
    const std::string_view trimmed = Trim(content);
    if (trimmed.empty() || IsComment(trimmed) || trimmed.front() == '[') {
        return std::nullopt;
    }
    const size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view value = Trim(content.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    size_t valueStart = content.find_first_not_of(kBlanks, equals + 1);
    if (valueStart == std::string_view::npos) {
        valueStart = content.size();
    }
    return KeyLine{Trim(content.substr(0, equals)), value, valueStart};
}

}  // namespace

std::optional<IniFile> IniFile::Load(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? std::optional<IniFile>(IniFile{}) : std::nullopt;
    }
    std::string text;
    char buffer[kReadPiece];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (count == 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(count));
    }
    ::close(fd);
    return FromText(text);
}

IniFile IniFile::FromText(std::string_view text)
{
    IniFile file;
    size_t start = 0;
    while (start < text.size()) {
        const size_t newline = text.find('\n', start);
        if (newline == std::string_view::npos) {
            file.lines_.push_back({std::string(text.substr(start)), ""});
            break;
        }
        size_t contentEnd = newline;
        if (contentEnd > start && text[contentEnd - 1] == '\r') {
            --contentEnd;
        }
        file.lines_.push_back(
            {std::string(text.substr(start, contentEnd - start)), std::string(text.substr(contentEnd, newline + 1 - contentEnd))});
        start = newline + 1;
    }
    return file;
}

std::optional<size_t> IniFile::FindSection(std::string_view section) const
{
    for (size_t i = 0; i < lines_.size(); ++i) {
        const auto name = SectionName(lines_[i].content);
        if (name && SameName(*name, section)) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<size_t> IniFile::FindKey(size_t header, std::string_view key) const
{
    for (size_t i = header + 1; i < lines_.size() && !SectionName(lines_[i].content); ++i) {
        const auto line = ParseKey(lines_[i].content);
        if (line && SameName(line->key, key)) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::string> IniFile::GetString(std::string_view section, std::string_view key) const
{
    const auto header = FindSection(section);
    if (!header) {
        return std::nullopt;
    }
    const auto index = FindKey(*header, key);
    if (!index) {
        return std::nullopt;
    }
    return std::string(ParseKey(lines_[*index].content)->value);
}

int32_t IniFile::GetInt(std::string_view section, std::string_view key, int32_t defaultValue) const
{
    const auto value = GetString(section, key);
    if (!value || value->empty()) {
        return defaultValue;
    }
    size_t i = 0;
    const bool negative = (*value)[0] == '-';
    if (negative) {
        ++i;
    }
    uint32_t number = 0;
    for (; i < value->size() && (*value)[i] >= '0' && (*value)[i] <= '9'; ++i) {
        number = number * 10u + static_cast<uint32_t>((*value)[i] - '0');
    }
    return static_cast<int32_t>(negative ? 0u - number : number);
}

std::vector<std::pair<std::string, std::string>> IniFile::Entries(std::string_view section) const
{
    std::vector<std::pair<std::string, std::string>> entries;
    const auto header = FindSection(section);
    if (!header) {
        return entries;
    }
    for (size_t i = *header + 1; i < lines_.size() && !SectionName(lines_[i].content); ++i) {
        if (const auto line = ParseKey(lines_[i].content)) {
            entries.emplace_back(std::string(line->key), std::string(line->value));
        }
    }
    return entries;
}

std::string IniFile::NewLineEnd() const
{
    for (const Line& line : lines_) {
        if (!line.end.empty()) {
            return line.end;
        }
    }
    return "\n";
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value)
{
    const std::string end = NewLineEnd();
    const std::string keyLine = std::string(key) + "=" + std::string(value);
    const auto header = FindSection(section);
    if (!header) {
        if (!lines_.empty() && lines_.back().end.empty()) {
            lines_.back().end = end;
        }
        lines_.push_back({"[" + std::string(section) + "]", end});
        lines_.push_back({keyLine, end});
        return;
    }
    if (const auto index = FindKey(*header, key)) {
        std::string& content = lines_[*index].content;
        content = content.substr(0, ParseKey(content)->valueStart) + std::string(value);
        return;
    }
    size_t after = *header;
    for (size_t i = *header + 1; i < lines_.size() && !SectionName(lines_[i].content); ++i) {
        if (ParseKey(lines_[i].content)) {
            after = i;
        }
    }
    if (lines_[after].end.empty()) {
        lines_[after].end = end;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(after + 1), Line{keyLine, end});
}

std::string IniFile::Text() const
{
    std::string text;
    for (const Line& line : lines_) {
        text += line.content;
        text += line.end;
    }
    return text;
}

bool IniFile::Save(const std::string& path) const
{
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) {
        std::error_code error;
        std::filesystem::create_directories(folder, error);
    }
    // Written in place rather than through a renamed copy, so that a settings file that is a
    // link, or that lives in a folder the user may not write, keeps working.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kNewFileMode);
    if (fd < 0) {
        return false;
    }
    const std::string text = Text();
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            ::close(fd);
            return false;
        }
        written += static_cast<size_t>(count);
    }
    return ::close(fd) == 0;
}
