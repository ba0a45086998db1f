// Settings files in the private-profile form: "[Section]" lines and "key=value" lines; lines
// starting with ';' or '#' are comments. Section and key names compare without regard to ASCII
// case, and the first section and the first key of a name win. Blanks around names and values
// do not count, nor does one pair of quotes around a value.
//
// Writing a key changes that one line (or adds it, and its section when missing) and keeps
// every other line of the file byte for byte, comments and line ends included.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class IniFile {
public:
    // A missing file reads as an empty one: every key missing. nullopt when the file exists but
    // cannot be read, so that nobody writes over what they could not see.
    static std::optional<IniFile> Load(const std::string& path);
    static IniFile FromText(std::string_view text);

    // The key's value; nullopt when the section or the key is missing.
    std::optional<std::string> GetString(std::string_view section, std::string_view key) const;

    // An optional minus sign and the decimal digits that follow it, taken modulo 2^32 as the
    // platform's private-profile reader does; 0 when no digit follows. defaultValue when the key
    // is missing or its value is empty.
    int32_t GetInt(std::string_view section, std::string_view key, int32_t defaultValue) const;

    // Every key of the section with its value, in file order.
    std::vector<std::pair<std::string, std::string>> Entries(std::string_view section) const;

    // Replaces the value of the key's line, or adds the key after the section's last key, or adds
    // the section with the key at the end of the file.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    std::string Text() const;

    // Writes the whole text, creating the file's folders when missing. False when any of it
    // could not be written.
    bool Save(const std::string& path) const;

private:
    struct Line {
        std::string content;  // without its line end
        std::string end;      // "\n", "\r\n" or empty for a last line without one
    };
    // Index of the section's header line, if any.
    std::optional<size_t> FindSection(std::string_view section) const;
    // Index of the key's line in the section that starts after line header.
    std::optional<size_t> FindKey(size_t header, std::string_view key) const;
    std::string NewLineEnd() const;

    std::vector<Line> lines_;
};
