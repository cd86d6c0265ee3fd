// A failure of any single system call during a write leaves the original byte-identical and no
// temporary file or backup behind; once the replace has happened, the new content is whole.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <set>
#include <system_error>

#include "core/audio_tagger.h"
#include "core/sys.h"
#include "core/tag_error.h"
#include "driver_fixtures.h"
#include "support/files.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::driver;
namespace fs = std::filesystem;
using sys::Op;

namespace {

const std::string kCode = "FIABC2600001";

// Counts every call through the seam and fails the one numbered `failAt`.
class Injector {
public:
    struct Call {
        Op op;
        std::string path;
    };

    explicit Injector(std::optional<std::size_t> failAt = std::nullopt, int err = EIO)
        : failAt_(failAt), err_(err) {
        sys::setFaultHook([this](Op op, const std::string& path) {
            const std::size_t index = calls.size();
            calls.push_back({op, path});
            if (failAt_ && index == *failAt_) return err_;
            if (op == Op::rename) renamed = true;
            return 0;
        });
    }
    ~Injector() { sys::setFaultHook(nullptr); }
    Injector(const Injector&) = delete;
    Injector& operator=(const Injector&) = delete;

    std::vector<Call> calls;
    bool renamed = false;

private:
    std::optional<std::size_t> failAt_;
    int err_;
};

bool isTemp(const std::string& path) { return path.ends_with(".pelorix-tmp"); }

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(FaultInjectionTest, EveryCallOfAWriteCanFailSafely) {
    // More than one 1 MiB piece, so the copy and the comparison loop.
    const Bytes original = wavWithCode("GBXYZ9900001", audioBytes((1 << 20) + 5));

    std::vector<Injector::Call> plan;
    {
        TempDir dir;
        writeFile(dir / "Song.wav", original);
        Injector record;
        AudioTagger::writeISRC(dir / "Song.wav", kCode, true);
        plan = record.calls;
    }
    // The run goes through every step worth breaking.
    std::set<Op> seen;
    bool openedTemp = false;
    for (const auto& c : plan) {
        seen.insert(c.op);
        openedTemp |= c.op == Op::open && isTemp(c.path);
    }
    EXPECT_TRUE(openedTemp);
    for (Op op : {Op::read, Op::write, Op::fsync, Op::close, Op::rename, Op::fchmod,
                  Op::copyRange, Op::unlink}) {
        EXPECT_TRUE(seen.count(op)) << "op " << int(op) << " never called";
    }

    for (std::size_t k = 0; k < plan.size(); ++k) {
        SCOPED_TRACE("call " + std::to_string(k) + " (op " + std::to_string(int(plan[k].op)) +
                     " " + plan[k].path + ")");
        TempDir dir;
        const fs::path file = dir / "Song.wav";
        writeFile(file, original);
        std::string error;
        bool renamed;
        {
            Injector inject(k);
            error = errorOf([&] { AudioTagger::writeISRC(file, kCode, true); });
            renamed = inject.renamed;
        }
        EXPECT_TRUE(tempFiles(dir).empty());
        if (error.empty()) {
            // Only a stale-file deletion and the closing of a flushed folder may fail unnoticed.
            EXPECT_TRUE(plan[k].op == Op::unlink || plan[k].op == Op::close);
            EXPECT_EQ(AudioTagger::readISRC(file), kCode);
        } else if (!renamed) {
            EXPECT_EQ(readFile(file), original);
            EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"}) << error;
        } else {
            // The folder flush after the replace failed: reported, but the new file is whole.
            EXPECT_TRUE(plan[k].op == Op::open || plan[k].op == Op::fsync);
            EXPECT_EQ(AudioTagger::readISRC(file), kCode);
            EXPECT_EQ(readFile(dir / "Song (original).wav"), original);
        }
    }
}

TEST(FaultInjectionTest, EachNamedStepReportsThePlatformError) {
    struct Case {
        std::string step;
        Op op;
        bool onTemp;  // only calls on the temporary file's path
        int err;
        std::string expected;
    };
    const std::string platform = std::generic_category().message(ENOSPC);
    const Case cases[] = {
        {"open of the temporary file", Op::open, true, EACCES,
         msg::cannotWrite(std::generic_category().message(EACCES))},
        {"write (full disk)", Op::write, false, ENOSPC, platform},
        {"flush", Op::fsync, false, EIO, std::generic_category().message(EIO)},
        {"close", Op::close, false, EIO, std::generic_category().message(EIO)},
        {"rename", Op::rename, false, EXDEV, std::generic_category().message(EXDEV)},
        {"backup copy", Op::copyRange, false, ENOSPC, platform},
    };
    const Bytes original = wav(audioBytes(70000));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        TempDir dir;
        const fs::path file = dir / "Song.wav";
        writeFile(file, original);
        bool failed = false;
        sys::setFaultHook([&](Op op, const std::string& path) {
            if (failed || op != c.op || (c.onTemp && !isTemp(path))) return 0;
            failed = true;
            return c.err;
        });
        const std::string error = errorOf([&] { AudioTagger::writeISRC(file, kCode, true); });
        sys::setFaultHook(nullptr);
        EXPECT_TRUE(failed);
        EXPECT_EQ(error, c.expected);
        EXPECT_EQ(readFile(file), original);
        EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});
    }
}

TEST(FaultInjectionTest, AFolderThatIsNotWritable) {
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    const Bytes original = wav(audioBytes(1000));
    writeFile(file, original);
    const std::string denied = msg::cannotWrite(std::generic_category().message(EACCES));

    if (::geteuid() != 0) {
        // A real read-only folder (root would be let through, so only as a normal user).
        ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
        EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(file, kCode, false); }), denied);
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        EXPECT_EQ(readFile(file), original);
    }

    // The same refusal as the kernel gives it, for any user.
    sys::setFaultHook([](Op op, const std::string& path) {
        return op == Op::open && isTemp(path) ? EACCES : 0;
    });
    EXPECT_EQ(errorOf([&] { AudioTagger::writeISRC(file, kCode, false); }), denied);
    sys::setFaultHook(nullptr);
    EXPECT_EQ(readFile(file), original);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"Song.wav"});
}
