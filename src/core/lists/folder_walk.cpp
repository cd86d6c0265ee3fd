// SPDX-License-Identifier: MIT
#include "core/lists/folder_walk.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <memory>
#include <set>

#include "core/formats/format.h"

namespace pelorix::lists {

namespace fs = std::filesystem;

namespace {

// The root collation with numeric ordering at secondary strength: "b" = "B", "2" < "10".
// Built once; ICU collators may be used from several threads for comparing.
const icu::Collator* collator() {
    static std::unique_ptr<icu::Collator> instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> c(
            icu::Collator::createInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !c) return std::unique_ptr<icu::Collator>();
        c->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        c->setStrength(icu::Collator::SECONDARY);
        if (U_FAILURE(status)) return std::unique_ptr<icu::Collator>();
        return c;
    }();
    return instance.get();
}

bool isAudioName(const fs::path& name) {
    return formats::hasAudioExtension(name.filename().string());
}

bool byName(const fs::path& a, const fs::path& b) {
    return naturalCompare(a.filename().string(), b.filename().string()) < 0;
}

void walk(const fs::path& folder, FolderWalk& out) {
    const std::size_t backupsBefore = out.backups.size();
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        out.unread.push_back(folder);
        out.reasons.push_back(ec.message());
        return;
    }
    std::vector<fs::path> files;
    std::vector<fs::path> folders;
    std::set<std::string> names;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        const fs::path& entry = it->path();
        const std::string name = entry.filename().string();
        if (name.starts_with(".")) continue;
        names.insert(name);
        std::error_code kind;
        if (it->is_symlink(kind) ? false : it->is_directory(kind)) {
            folders.push_back(entry);
        } else if (isAudioName(entry)) {
            files.push_back(entry);
        }
    }
    const auto backup = [&](const fs::path& file) {
        const std::string original = originalOf(file.filename().string());
        return !original.empty() && names.count(original) != 0;
    };
    for (const fs::path& file : files) {
        if (backup(file)) out.backups.push_back(file);
    }
    files.erase(std::remove_if(files.begin(), files.end(), backup), files.end());
    if (ec) {
        out.unread.push_back(folder);
        out.reasons.push_back(ec.message());
    }
    std::sort(files.begin(), files.end(), byName);
    std::sort(out.backups.begin() + std::ptrdiff_t(backupsBefore), out.backups.end(), byName);
    std::sort(folders.begin(), folders.end(), byName);
    out.files.insert(out.files.end(), files.begin(), files.end());
    for (const fs::path& sub : folders) walk(sub, out);
}

}  // namespace

int naturalCompare(std::string_view a, std::string_view b) {
    if (const icu::Collator* c = collator()) {
        UErrorCode status = U_ZERO_ERROR;
        const UCollationResult r =
            c->compareUTF8(icu::StringPiece(a.data(), std::int32_t(a.size())),
                           icu::StringPiece(b.data(), std::int32_t(b.size())), status);
        if (U_SUCCESS(status) && r != UCOL_EQUAL) return r == UCOL_LESS ? -1 : 1;
    }
    return a.compare(b) < 0 ? -1 : a == b ? 0 : 1;
}

bool isBackupName(std::string_view fileName) {
    return !originalOf(fileName).empty();
}

std::string originalOf(std::string_view fileName) {
    std::string_view stem = fileName, extension;
    if (const auto dot = stem.rfind('.'); dot != std::string_view::npos && dot > 0) {
        extension = stem.substr(dot);
        stem = stem.substr(0, dot);
    }
    const auto original = [&](std::size_t cut) {
        return cut == 0 ? std::string() : std::string(stem.substr(0, cut)) + std::string(extension);
    };
    if (stem.ends_with(" (original)")) return original(stem.size() - 11);
    constexpr std::string_view kOpen = " (original ";
    const auto open = stem.rfind(kOpen);
    if (open == std::string_view::npos || !stem.ends_with(")")) return "";
    const std::string_view digits =
        stem.substr(open + kOpen.size(), stem.size() - open - kOpen.size() - 1);
    const bool numbered =
        !digits.empty() && digits.front() != '0' &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    return numbered ? original(open) : "";
}

FolderWalk audioFilesIn(const fs::path& folder) {
    FolderWalk out;
    walk(folder, out);
    return out;
}

}  // namespace pelorix::lists
