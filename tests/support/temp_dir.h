// A folder of its own for one test, removed with everything in it when the test ends. Test
// cases run in parallel processes, so nothing they write may share a path.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testsupport {

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "flashmate-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed for " << pattern;
        }
        path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder with a trailing '/'.
    std::string Path() const { return path_ + "/"; }
    std::string File(const std::string& name) const { return Path() + name; }

    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        const std::string path = File(name);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good()) << path;
        return path;
    }

    std::string WriteText(const std::string& name, const std::string& text) const
    {
        return Write(name, std::vector<uint8_t>(text.begin(), text.end()));
    }

    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string path_;
};

}  // namespace testsupport
