// SPDX-License-Identifier: MIT
#include "support/files.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace pelorix::test {

TempDir::TempDir(const std::filesystem::path& in) {
    std::string tmpl = (in / "pelorix-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only folders behind; make everything writable before removing.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> TempDir::list() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void writeFile(const std::filesystem::path& p, const Bytes& bytes) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    if (!f) throw std::runtime_error("cannot write " + p.string());
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes readFile(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + p.string());
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes slice(const Bytes& b, std::size_t at, std::size_t n) {
    at = std::min(at, b.size());
    n = std::min(n, b.size() - at);
    return Bytes(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at + n));
}

std::size_t countOf(const Bytes& hay, const std::string& needle) {
    std::size_t n = 0;
    if (needle.empty() || hay.size() < needle.size()) return 0;
    const Bytes pat = bytesOf(needle);  // compare bytes with bytes: char may be signed
    for (auto it = hay.begin();;) {
        it = std::search(it, hay.end(), pat.begin(), pat.end());
        if (it == hay.end()) break;
        ++n;
        ++it;
    }
    return n;
}

RunResult runShell(const std::string& command) {
    RunResult r;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
    int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

LoopFilesystem::LoopFilesystem(const std::string& type) {
    const std::string mkfs = type == "xfs" ? "mkfs.xfs -q -m reflink=1" : "mkfs." + type + " -q";
    // The image lives in memory where it can, so the flushes of a write cost nothing.
    image_ = (std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                        : dir_.path()) /
             ("pelorix-" + type + "-" + std::to_string(::getpid()) + ".img");
    std::filesystem::create_directory(path());
    mounted_ =
        ::geteuid() == 0 && runShell("command -v mkfs." + type).status == 0 &&
        runShell("truncate -s 512M " + image_.string() + " && " + mkfs + " " + image_.string() +
                 " && mount -o loop " + image_.string() + " " + path().string())
                .status == 0;
}

LoopFilesystem::~LoopFilesystem() {
    if (mounted_) runShell("umount " + path().string());
    std::filesystem::remove(image_);
}

namespace {

// No test reaches the data of the user who runs it: the ledger a run of pelorix opens by
// default lives in a folder of this test process, gone when it ends.
[[maybe_unused]] const bool kPrivateDataHome = [] {
    static const TempDir data;
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    ::unsetenv("PELORIX_LEDGER");
    return true;
}();

}  // namespace

}  // namespace pelorix::test
