// SPDX-License-Identifier: MIT
#include "core/write/backup.h"

#include <cerrno>
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

}  // namespace

PendingFile writeBackup(const FileIn& in, const struct stat& original, int folder,
                        const fs::path& path) {
    const std::string base = path.stem().string();
    const std::string ext = path.extension().string();
    for (std::uint64_t n = 1;; ++n) {
        const std::string name = backupName(base, ext, n);
        // Whatever holds a name (a file, a folder, a link, even a dangling one) is skipped; the
        // exclusive creation below never reuses or follows what appears there meanwhile.
        struct stat st {};
        if (sys::statAt(folder, name, st) == 0) continue;
        if (errno != ENOENT) {
            throw TagError::io(msg::cannotWrite(std::generic_category().message(errno)));
        }
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
}

}  // namespace pelorix::write
