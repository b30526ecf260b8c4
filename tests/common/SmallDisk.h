#pragma once

#include <sys/mount.h>

#include <filesystem>
#include <string>

namespace NovaroTest
{

// A file system of its own, of a few kilobytes, mounted on a fresh folder while the object lives:
// a disk that fills up, or one made read-only, for real. Mounting needs the privilege to mount;
// where it is missing mounted() is false and the test skips.
class SmallDisk
{
public:
    SmallDisk(const std::string& folder, size_t kilobytes) : _folder(folder)
    {
        std::filesystem::create_directories(folder);
        const std::string options = "size=" + std::to_string(kilobytes) + "k";
        _mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk()
    {
        if (_mounted)
            ::umount2(_folder.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return _mounted; }
    const std::string& folder() const { return _folder; }

    // What is written so far stays; nothing more can be.
    bool makeReadOnly()
    {
        return _mounted && ::mount("tmpfs", _folder.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    std::string _folder;
    bool _mounted = false;
};

} // namespace NovaroTest
