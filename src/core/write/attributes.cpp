// SPDX-License-Identifier: MIT
#include "core/write/attributes.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "core/io/sys.h"
#include "core/tag_error.h"

namespace pelorix::write {

namespace {

// An attribute list or value, or none when the filesystem keeps no attributes or the
// attribute went meanwhile. Other failures throw: an attribute is never dropped unnoticed.
template <typename Read>
bool readAll(std::string& into, Read read) {
    for (;;) {
        ssize_t len = read(nullptr, 0);
        if (len >= 0) {
            into.assign(std::size_t(len), '\0');
            len = read(into.data(), into.size());
        }
        if (len >= 0) {
            into.resize(std::size_t(len));
            return true;
        }
        if (errno == ERANGE) continue;  // it grew between the two calls
        if (errno == ENOTSUP || errno == ENODATA) return false;
        sys::throwErrno();
    }
}

void copyXattrs(int from, int to) {
    std::string names;
    if (!readAll(names, [&](char* b, std::size_t n) { return sys::flistxattr(from, b, n); })) {
        return;
    }
    for (std::size_t at = 0; at < names.size();) {
        const std::string name(names.c_str() + at);
        at += name.size() + 1;
        if (name.empty()) continue;
        std::string value;
        if (!readAll(value,
                     [&](char* b, std::size_t n) { return sys::fgetxattr(from, name, b, n); })) {
            continue;
        }
        if (sys::fsetxattr(to, name, value.data(), value.size()) != 0) {
            // Namespaces such as trusted.* or security.* need privileges this process may lack.
            if (errno == ENOTSUP || errno == EPERM || errno == EACCES) continue;
            sys::throwErrno();
        }
    }
}

}  // namespace

void keepOwner(const struct stat& original, int to) {
    struct stat mine {};
    if (sys::fstat(to, mine) != 0) sys::throwErrno();
    if (mine.st_uid == original.st_uid && mine.st_gid == original.st_gid) return;
    const uid_t uid = mine.st_uid == original.st_uid ? uid_t(-1) : original.st_uid;
    if (sys::fchown(to, uid, original.st_gid) == 0) return;
    if (errno == EPERM) throw TagError::io(msg::ownerNotKept);
    sys::throwErrno();
}

bool ownerKeepable(const struct stat& original, const struct stat& folder) {
    if (::geteuid() == 0) return true;  // may give a file to anyone
    if (original.st_uid != ::geteuid()) return false;
    // A new file takes the folder's group in a set-group-ID folder, else the caller's.
    const gid_t created = (folder.st_mode & S_ISGID) ? folder.st_gid : ::getegid();
    if (original.st_gid == created || original.st_gid == ::getegid()) return true;
    std::vector<gid_t> groups(std::size_t(std::max(::getgroups(0, nullptr), 0)));
    const int n = ::getgroups(int(groups.size()), groups.data());
    return std::find(groups.begin(), groups.begin() + std::max(n, 0), original.st_gid) !=
           groups.begin() + std::max(n, 0);
}

void keepModeAndAttributes(int from, const struct stat& original, int to) {
    if (sys::fchmod(to, original.st_mode & 07777) != 0) sys::throwErrno();
    copyXattrs(from, to);
}

}  // namespace pelorix::write
