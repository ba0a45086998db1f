#include "flashmate/ini_file.h"
#include "flashmate/serial.h"
#include "flashmate/session.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <limits>
#include <mutex>
#include <vector>

namespace {

constexpr const char* kSettingsFileName = "Upgrade.ini";
constexpr const char* kUserSettingsFolder = ".config/flashmate/";
constexpr const char* kConfigSection = "Config";
constexpr const char* kPortsSection = "Ports";
constexpr std::string_view kPortPrefix = "COM";
constexpr size_t kFirstLinkBuffer = 256;

std::mutex g_pathMutex;
std::string g_settingsPath;

std::string HomeDirectory()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr) {
        return result->pw_dir;
    }
    return {};
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

uint32_t ParseHexId(std::string_view token)
{
    size_t i = 0;
    while (i < token.size() && (token[i] == ' ' || token[i] == '\t' || token[i] == '\r' || token[i] == '\n')) {
        ++i;
    }
    if (i + 1 < token.size() && token[i] == '0' && (token[i + 1] == 'x' || token[i + 1] == 'X')) {
        i += 2;
    }
    uint64_t value = 0;
    for (; i < token.size() && HexDigit(token[i]) >= 0; ++i) {
        value = value * 16 + static_cast<uint64_t>(HexDigit(token[i]));
        if (value > std::numeric_limits<uint32_t>::max()) {
            value = std::numeric_limits<uint32_t>::max();
        }
    }
    return static_cast<uint32_t>(value);
}

// "COMn" with n a positive decimal number.
int32_t PortNumberOfKey(std::string_view key)
{
    if (key.size() <= kPortPrefix.size()) {
        return 0;
    }
    for (size_t i = 0; i < kPortPrefix.size(); ++i) {
        if ((key[i] & ~0x20) != kPortPrefix[i]) {
            return 0;
        }
    }
    int64_t number = 0;
    for (size_t i = kPortPrefix.size(); i < key.size(); ++i) {
        if (key[i] < '0' || key[i] > '9') {
            return 0;
        }
        number = number * 10 + (key[i] - '0');
        if (number > std::numeric_limits<int32_t>::max()) {
            return 0;
        }
    }
    return static_cast<int32_t>(number);
}

}  // namespace

std::string LinkTargetDirectory(const char* link)
{
    // readlink does not say how long the target is, only that the buffer was filled: grow it
    // until the path fits.
    std::vector<char> buffer(kFirstLinkBuffer);
    for (;;) {
        const ssize_t length = ::readlink(link, buffer.data(), buffer.size());
        if (length < 0) {
            return {};
        }
        if (static_cast<size_t>(length) < buffer.size()) {
            const std::string path(buffer.data(), static_cast<size_t>(length));
            const size_t slash = path.rfind('/');
            return slash == std::string::npos ? std::string{} : path.substr(0, slash + 1);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string GetModuleDirectory()
{
    return LinkTargetDirectory("/proc/self/exe");
}

std::string ChooseSettingsPath(const std::string& moduleDirectory, const std::string& homeDirectory)
{
    if (!moduleDirectory.empty()) {
        const std::string beside = moduleDirectory + kSettingsFileName;
        if (::access(beside.c_str(), F_OK) == 0 || ::access(moduleDirectory.c_str(), W_OK) == 0) {
            return beside;
        }
    }
    if (homeDirectory.empty()) {
        return {};
    }
    std::string folder = homeDirectory;
    if (folder.back() != '/') {
        folder += '/';
    }
    return folder + kUserSettingsFolder + kSettingsFileName;
}

void SetSettingsFilePath(const std::string& path)
{
    std::lock_guard lock(g_pathMutex);
    g_settingsPath = path;
}

std::string SettingsFilePath()
{
    {
        std::lock_guard lock(g_pathMutex);
        if (!g_settingsPath.empty()) {
            return g_settingsPath;
        }
    }
    return ChooseSettingsPath(GetModuleDirectory(), HomeDirectory());
}

bool LoadSettings(UpgradeSession& session)
{
    const IniFile ini = IniFile::Load(SettingsFilePath()).value_or(IniFile{});
    PortNumber = ini.GetInt(kConfigSection, "Port", PortNumber);
    BaudRate = ini.GetInt(kConfigSection, "Baud", BaudRate);
    ParityCode = ini.GetInt(kConfigSection, "Parity", ParityCode);
    session.warningLevel =
        static_cast<uint32_t>(ini.GetInt(kConfigSection, "WarningLevel", static_cast<int32_t>(session.warningLevel)));
    session.transferFormat2 = static_cast<uint32_t>(
        ini.GetInt(kConfigSection, "TransferFormat2", static_cast<int32_t>(session.transferFormat2)));
    ParseChunkMask(session, ini.GetString(kConfigSection, "ChunkMask").value_or("").c_str());
    for (const auto& [key, device] : ini.Entries(kPortsSection)) {
        const int32_t port = PortNumberOfKey(key);
        if (port > 0 && !device.empty()) {
            UpgMapPort(port, device.c_str());
        }
    }
    return true;
}

bool SaveSettings()
{
    const std::string path = SettingsFilePath();
    if (path.empty()) {
        return false;
    }
    std::optional<IniFile> ini = IniFile::Load(path);
    if (!ini) {
        return false;
    }
    ini->Set(kConfigSection, "Port", std::to_string(PortNumber));
    ini->Set(kConfigSection, "Baud", std::to_string(BaudRate));
    ini->Set(kConfigSection, "Parity", std::to_string(ParityCode));
    return ini->Save(path);
}

bool ParseChunkMask(UpgradeSession& session, const char* text)
{
    session.chunkMaskCount = 0;
    const std::string_view mask = text == nullptr ? std::string_view{} : std::string_view{text};
    size_t start = 0;
    for (size_t comma = mask.find(','); comma != std::string_view::npos; comma = mask.find(',', start)) {
        if (session.chunkMaskCount < ChunkMaskCapacity) {
            session.chunkMask[session.chunkMaskCount++] = ParseHexId(mask.substr(start, comma - start));
        }
        start = comma + 1;
    }
    return true;
}
