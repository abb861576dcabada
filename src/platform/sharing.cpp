#include "platform/sharing.hpp"

namespace glyphound {

bool SharingRegistry::acquire(FileIdentity file, Access access) {
    auto found = open_.find(file);
    if (found != open_.end()) {
        if (access == Access::Write || found->second.writer) return false;
        ++found->second.readers;
        return true;
    }
    Holders& holders = open_[file];
    if (access == Access::Write)
        holders.writer = true;
    else
        holders.readers = 1;
    return true;
}

void SharingRegistry::release(FileIdentity file, Access access) {
    auto found = open_.find(file);
    if (found == open_.end()) return;
    if (access == Access::Write)
        found->second.writer = false;
    else
        --found->second.readers;
    if (!found->second.writer && found->second.readers <= 0) open_.erase(found);
}

}  // namespace glyphound
