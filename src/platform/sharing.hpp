#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

namespace glyphound {

// Which file an open handle refers to, whatever name, link or symlink was
// used to reach it.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator<(const FileIdentity& other) const {
        return std::pair(device, inode) < std::pair(other.device, other.inode);
    }
};

enum class Access { Read, Write };

// The process's own record of its open files, enforcing the sharing rules
// where the operating system does not: readers may share a file with other
// readers only; a writer shares it with nobody. Files opened and closed on
// several threads keep one record.
class SharingRegistry {
public:
    bool permits(FileIdentity file, Access access) const;
    // Records the access if the rules permit it.
    bool acquire(FileIdentity file, Access access);
    // Records an access that is already a fact, such as a standard stream
    // the shell opened, whatever else holds the file.
    void hold(FileIdentity file, Access access);
    void release(FileIdentity file, Access access);

private:
    struct Holders {
        int readers = 0;
        bool writer = false;
    };
    std::map<FileIdentity, Holders> open_;
    mutable std::recursive_mutex mutex_;
};

}  // namespace glyphound
