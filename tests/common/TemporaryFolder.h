#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace NovaroTest
{

// A fresh folder of one test's own under the system's temporary directory, removed with
// everything in it when the object goes. Tests write nowhere else.
class TemporaryFolder
{
public:
    TemporaryFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "novaro-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            _path = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        if (!_path.empty())
            std::filesystem::remove_all(_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return _path; }
    std::string file(const std::string& name) const { return _path + "/" + name; }

    // Writes the bytes as they are (making the folders on the way) and returns the file's path.
    std::string write(const std::string& name, const std::string& content) const
    {
        const std::filesystem::path target = std::filesystem::path(_path) / name;
        std::filesystem::create_directories(target.parent_path());
        std::ofstream(target, std::ios::binary) << content;
        return target.string();
    }

private:
    std::string _path;
};

// The whole file's bytes; empty when it cannot be read.
inline std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Replaces the first 'from' in the file by 'to' and returns the file's new text; a file without
// 'from' fails the test and is left as it was.
inline std::string replaceInFile(const std::string& path, const std::string& from, const std::string& to)
{
    std::string text = readFile(path);
    const size_t found = text.find(from);
    if (found == std::string::npos)
        ADD_FAILURE() << "no \"" << from << "\" in " << path;
    else
        std::ofstream(path, std::ios::binary) << text.replace(found, from.size(), to);
    return text;
}

// The bytes of a string literal that holds NULs, without the terminating one.
template <size_t N> std::string bytes(const char (&literal)[N])
{
    return std::string(literal, N - 1);
}

} // namespace NovaroTest
