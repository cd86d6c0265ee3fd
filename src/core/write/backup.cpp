// SPDX-License-Identifier: MIT
#include "core/write/backup.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <optional>
#include <string>
#include <system_error>

#include "core/io/sys.h"
#include "core/tag_error.h"
#include "core/write/attributes.h"

namespace pelorix::write {

namespace fs = std::filesystem;

namespace {

std::string backupName(const std::string& base, const std::string& ext, std::uint64_t n) {
    std::string name = base + (n == 1 ? " (original)" : " (original " + std::to_string(n) + ")");
    return name + ext;
}

// The first backup name that nothing holds; refused when it is longer than `folder` allows.
std::string freeBackupName(int folder, const fs::path& path) {
    const std::string base = path.stem().string();
    const std::string ext = path.extension().string();
    const long limit = ::fpathconf(folder, _PC_NAME_MAX);
    const std::size_t most = limit > 0 ? std::size_t(limit) : std::size_t(NAME_MAX);
    for (std::uint64_t n = 1;; ++n) {
        const std::string name = backupName(base, ext, n);
        if (name.size() > most) throw TagError::io(msg::backupNameTooLong);
        // Whatever holds a name (a file, a folder, a link, even a dangling one) is skipped.
        struct stat st {};
        if (sys::statAt(folder, name, st) == 0) continue;
        if (errno != ENOENT) {
            throw TagError::io(msg::cannotWrite(std::generic_category().message(errno)));
        }
        return name;
    }
}

}  // namespace

void checkBackupName(int folder, const fs::path& path) {
    (void)freeBackupName(folder, path);
}

PendingFile writeBackup(const FileIn& in, const struct stat& original, int folder,
                        const fs::path& path) {
    // The exclusive creation below never reuses or follows what appears there meanwhile.
    const std::string name = freeBackupName(folder, path);
    PendingFile pending(folder, name, path.parent_path() / name);
    pending.arm();  // known to the signal handler before it exists
    std::optional<FileOut> created;
    try {
        created.emplace(folder, name, pending.path());
    } catch (...) {
        pending.keep();  // whatever holds the name is not ours
        throw;
    }
    FileOut& out = *created;
    keepOwner(original, out.fd());
    keepAccessAndFlags(in.fd(), out.fd());
    in.copy(0, in.size(), out);
    out.flushBuffer();
    keepModeAndAttributes(in.fd(), original, out.fd());
    out.close();
    return pending;
}

}  // namespace pelorix::write
