#pragma once

#include <map>
#include <mutex>

#include "platform/system.hpp"

namespace glyphound {

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
