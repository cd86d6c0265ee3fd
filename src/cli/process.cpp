// SPDX-License-Identifier: MIT
#include "cli/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/io/sys.h"
#include "core/io/text.h"

extern char** environ;

namespace pelorix {

namespace {

ProcessResult launchFailure(int err) {
    return {-1, std::generic_category().message(err)};
}

}  // namespace

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return launchFailure(errno);
    sys::Fd readEnd(ends[0]);
    sys::Fd writeEnd(ends[1]);

    posix_spawn_file_actions_t actions;
    if (int err = posix_spawn_file_actions_init(&actions)) return launchFailure(err);
    // The child gets an empty standard input, so a tool that asks a question cannot hang us,
    // and one pipe for both of its output streams (dup2 clears close-on-exec on the copies).
    int err = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!err) err = posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 1);
    if (!err) err = posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 2);
    if (err) {
        posix_spawn_file_actions_destroy(&actions);
        return launchFailure(err);
    }

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    err = ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (err) return launchFailure(err);
    // Our copy of the write end must go, or the read below never sees the end of the output.
    writeEnd.reset();

    std::string raw;
    char buf[16384];
    for (;;) {
        ssize_t n = ::read(readEnd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::size_t room = kMaxProcessOutput - raw.size();
        raw.append(buf, std::min<std::size_t>(room, static_cast<std::size_t>(n)));
    }
    readEnd.reset();

    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0) {
        if (errno != EINTR) return {-1, std::generic_category().message(errno)};
    }
    ProcessResult result;
    if (WIFEXITED(wstatus)) {
        result.status = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        result.status = 128 + WTERMSIG(wstatus);
    }
    result.output = text::decodeLossy(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size(),
                                      text::Encoding::utf8);
    return result;
}

}  // namespace pelorix
