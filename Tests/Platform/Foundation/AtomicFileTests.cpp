// Whole-file writes: the file gets exactly the mode asked for, whatever the
// umask and whatever mode the file it replaces had.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fmt/format.h>

#include "Foundation/AtomicFile.h"
#include "Support/TestSupport.h"

namespace {

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(AtomicFile, TheFileHasTheModeAskedFor) {
    TestSupport::TempDir dir;
    const mode_t savedUmask = ::umask(022);
    // Secrets (0600), files others read (screenshots, the compatibility list: 0644).
    for (const mode_t umask : {mode_t(022), mode_t(077), mode_t(0)}) {
        ::umask(umask);
        for (const mode_t mode : {mode_t(0600), mode_t(0644), mode_t(0640), mode_t(0444)}) {
            const std::string what = fmt::format("mode {:o}, umask {:03o}", mode, umask);
            const std::string path = dir.file("file");
            std::string error;
            ASSERT_TRUE(AtomicFile::write(path, "first", mode, &error)) << what << ": " << error;
            EXPECT_EQ(modeOf(path), mode) << what << ": a new file";
            ::chmod(path.c_str(), 0600);
            ASSERT_TRUE(AtomicFile::write(path, "second", mode, &error)) << what << ": " << error;
            EXPECT_EQ(modeOf(path), mode) << what << ": a replaced file";
            EXPECT_EQ(TestSupport::readFile(path), "second") << what;
            ::chmod(path.c_str(), 0600);
            ::unlink(path.c_str());
        }
    }
    ::umask(savedUmask);
}

}  // namespace
