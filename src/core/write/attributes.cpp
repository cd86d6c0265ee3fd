// SPDX-License-Identifier: MIT
#include "core/write/attributes.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>
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

constexpr const char* kAccessAcl = "system.posix_acl_access";

// The inode flags a file's owner may set and a replacement keeps, with chattr(1)'s letter each.
// Immutable and append-only files are refused before a write; the flags the filesystem itself
// manages (extents, inline data, encryption, verity...) are its own business.
constexpr std::pair<unsigned, char> kOwnerFlags[] = {
    {FS_SECRM_FL, 's'},  {FS_UNRM_FL, 'u'},         {FS_COMPR_FL, 'c'},  {FS_SYNC_FL, 'S'},
    {FS_NODUMP_FL, 'd'}, {FS_NOATIME_FL, 'A'},      {FS_NOCOMP_FL, 'm'}, {FS_NOTAIL_FL, 't'},
    {FS_NOCOW_FL, 'C'},  {FS_JOURNAL_DATA_FL, 'j'}, {FS_DAX_FL, 'x'}};

unsigned ownerFlags() {
    unsigned all = 0;
    for (const auto& [flag, letter] : kOwnerFlags) all |= flag;
    return all;
}

std::string lettersOf(unsigned flags) {
    std::string letters;
    for (const auto& [flag, letter] : kOwnerFlags) {
        if (flags & flag) letters += letter;
    }
    return letters;
}

// The owner's flags of the file open as `fd`; 0 where the filesystem keeps none.
unsigned flagsOf(int fd) {
    unsigned flags = 0;
    if (sys::getFlags(fd, flags) == 0) return flags & ownerFlags();
    if (errno == ENOTTY || errno == EOPNOTSUPP || errno == EINVAL || errno == ENOSYS) return 0;
    sys::throwErrno();
}

// Gives `to` the flags in `wanted` among those in `which`; refuses where the filesystem or the
// caller's rights do not keep them.
void keepFlags(unsigned wanted, unsigned which, int to) {
    unsigned now = 0;
    if (sys::getFlags(to, now) != 0) {
        if ((wanted & which) == 0) return;  // none to keep where there are none
        throw TagError::io(msg::flagsNotKept(lettersOf(wanted & which)));
    }
    const unsigned next = (now & ~which) | (wanted & which);
    if (next == now) return;
    if (sys::setFlags(to, next) != 0) {
        if (errno != EPERM && errno != EACCES && errno != EOPNOTSUPP && errno != EINVAL &&
            errno != ENOTTY) {
            sys::throwErrno();
        }
        throw TagError::io(msg::flagsNotKept(lettersOf((now ^ wanted) & which)));
    }
    unsigned after = 0;
    if (sys::getFlags(to, after) != 0) sys::throwErrno();
    if ((after & which) != (wanted & which)) {
        throw TagError::io(msg::flagsNotKept(lettersOf((after ^ wanted) & which)));
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
            // Namespaces such as trusted.* or security.* need privileges this process may lack;
            // where the new file holds the same value already (a security label given by the
            // system), nothing is lost.
            if (errno != ENOTSUP && errno != EPERM && errno != EACCES) sys::throwErrno();
            std::string held;
            if (!readAll(held,
                         [&](char* b, std::size_t n) { return sys::fgetxattr(to, name, b, n); }) ||
                held != value) {
                throw TagError::io(msg::attributeNotKept(name));
            }
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

void keepAccessAndFlags(int from, int to) {
    std::string acl;
    if (readAll(acl,
                [&](char* b, std::size_t n) { return sys::fgetxattr(from, kAccessAcl, b, n); })) {
        if (sys::fsetxattr(to, kAccessAcl, acl.data(), acl.size()) != 0) sys::throwErrno();
    } else if (sys::fremovexattr(to, kAccessAcl) != 0 && errno != ENODATA && errno != ENOTSUP) {
        sys::throwErrno();
    }
    keepFlags(flagsOf(from), ownerFlags() & ~unsigned(FS_SYNC_FL), to);
}

void keepModeAndAttributes(int from, const struct stat& original, int to) {
    if (sys::fchmod(to, original.st_mode & 07777) != 0) sys::throwErrno();
    copyXattrs(from, to);
    keepFlags(flagsOf(from), ownerFlags(), to);
}

void checkFlagsKeepable(int from) {
    const unsigned flags = flagsOf(from);
    // The owner may set them all but data journalling, which needs CAP_SYS_RESOURCE; root may.
    if ((flags & FS_JOURNAL_DATA_FL) && ::geteuid() != 0) {
        throw TagError::io(msg::flagsNotKept(lettersOf(FS_JOURNAL_DATA_FL)));
    }
}

void checkAttributesKeepable(int from, int folder) {
    // A file without a name, gone when closed: the filesystem, labels and privileges a
    // replacement meets, and nothing anyone else can see.
    const sys::Fd probe(sys::openAt(folder, ".", O_TMPFILE | O_RDWR, 0600));
    if (!probe) return;  // no unnamed files here: the write itself will tell
    copyXattrs(from, probe.get());
}

}  // namespace pelorix::write
