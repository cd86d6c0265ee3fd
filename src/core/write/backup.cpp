// SPDX-License-Identifier: MIT
#include "core/write/backup.h"

#include <string>

#include "core/write/attributes.h"

namespace pelorix::write {

namespace fs = std::filesystem;

namespace {

std::string backupName(const std::string& base, const std::string& ext, std::uint64_t n) {
    std::string name = base + (n == 1 ? " (original)" : " (original " + std::to_string(n) + ")");
    return name + ext;
}

}  // namespace

PendingFile writeBackup(const FileIn& in, const struct stat& original, const fs::path& path) {
    const std::string base = path.stem().string();
    const std::string ext = path.extension().string();
    for (std::uint64_t n = 1;; ++n) {
        const fs::path candidate = path.parent_path() / backupName(base, ext, n);
        // Whatever holds a name (a file, a folder, a link, even a dangling one) is skipped; the
        // exclusive creation below never reuses or follows what appears there meanwhile.
        std::error_code ec;
        const auto type = fs::symlink_status(candidate, ec).type();
        if (!ec && type != fs::file_type::not_found) continue;
        PendingFile pending(candidate);
        FileOut out(candidate);
        pending.arm();
        keepOwner(original, out.fd());
        in.copy(0, in.size(), out);
        out.flushBuffer();
        keepModeAndAttributes(in.fd(), original, out.fd());
        out.close();
        return pending;
    }
}

}  // namespace pelorix::write
