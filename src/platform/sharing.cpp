#include "platform/sharing.hpp"

namespace glyphound {

bool SharingRegistry::permits(FileIdentity file, Access access) const {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const auto found = open_.find(file);
    if (found == open_.end()) return true;
    return access == Access::Read && !found->second.writer;
}

bool SharingRegistry::acquire(FileIdentity file, Access access) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!permits(file, access)) return false;
    hold(file, access);
    return true;
}

void SharingRegistry::hold(FileIdentity file, Access access) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    Holders& holders = open_[file];
    if (access == Access::Write)
        holders.writer = true;
    else
        ++holders.readers;
}

void SharingRegistry::release(FileIdentity file, Access access) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto found = open_.find(file);
    if (found == open_.end()) return;
    if (access == Access::Write)
        found->second.writer = false;
    else
        --found->second.readers;
    if (!found->second.writer && found->second.readers <= 0) open_.erase(found);
}

}  // namespace glyphound
