#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "Categories/Data+Decompression.h"
#include "Support/TestSupport.h"

namespace fs = std::filesystem;
using DataDecompression::Format;

namespace {

struct Variant {
    Format format;
    const char* extension;
    const char* command;  // compresses stdin to stdout
};
const Variant kVariants[] = {
    {Format::Gzip, ".gz", "gzip -c -9"},
    {Format::Bzip2, ".bz2", "bzip2 -c"},
    {Format::Xz, ".xz", "xz -c"},
    {Format::Lzma, ".lzma", "xz --format=lzma -c"},
};

// A Packages-like text big enough to span many chunks.
std::string packagesText() {
    std::string s;
    for (int i = 0; i < 6000; ++i) {
        s += "Package: com.example.tweak" + std::to_string(i) + "\nVersion: 1." + std::to_string(i % 17) +
             "\nArchitecture: iphoneos-arm\nDescription: number " + std::to_string(i * 7919 % 10007) + "\n\n";
    }
    return s;
}

class DecompressionTest : public ::testing::Test {
protected:
    void SetUp() override {
        plain = packagesText();
        TestSupport::writeFile(dir.file("Packages"), plain);
        for (const auto& v : kVariants) {
            std::string command = std::string(v.command) + " < " + dir.file("Packages") + " > " +
                                  dir.file(std::string("Packages") + v.extension);
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
        }
    }
    std::string compressed(const Variant& v) { return TestSupport::readFile(dir.file(std::string("Packages") + v.extension)); }

    TestSupport::TempDir dir;
    std::string plain;
};

TEST_F(DecompressionTest, RoundTripsOfTheCommandLineTools) {
    for (const auto& v : kVariants) {
        SCOPED_TRACE(v.extension);
        std::string data = compressed(v);
        EXPECT_EQ(DataDecompression::formatForName(std::string("dists/main/Packages") + v.extension), v.format);
        EXPECT_EQ(DataDecompression::formatForMagic(data), v.format);

        auto buffer = DataDecompression::decompress(data, v.format);
        ASSERT_TRUE(buffer.ok()) << buffer.error->detail;
        EXPECT_TRUE(*buffer.value == plain);

        std::string out = dir.file(std::string("out") + v.extension);
        auto file = DataDecompression::decompressFile(dir.file(std::string("Packages") + v.extension), out);
        ASSERT_TRUE(file.ok()) << file.error->detail;
        EXPECT_EQ(*file.value, plain.size());
        EXPECT_TRUE(TestSupport::readFile(out) == plain);

        // Fed one byte at a time, the stream still comes out whole.
        DataDecompression::Decompressor d(v.format);
        std::string pieces;
        auto sink = [&](std::string_view s) {
            pieces.append(s);
            return true;
        };
        for (char c : data) ASSERT_FALSE(d.feed(std::string_view(&c, 1), sink));
        ASSERT_FALSE(d.finish(sink));
        EXPECT_TRUE(pieces == plain);
        // Concatenated streams, as the tools write them (lzma has no such form).
        if (v.format == Format::Lzma) continue;
        auto twice = DataDecompression::decompress(data + data, v.format);
        ASSERT_TRUE(twice.ok()) << twice.error->detail;
        EXPECT_TRUE(*twice.value == plain + plain);
    }
}

TEST_F(DecompressionTest, TheMagicWinsOverAMisleadingName) {
    // An xz file saved under a .gz name (or a gzip one that a server already undid) still reads.
    fs::copy_file(dir.file("Packages.xz"), dir.file("Packages-really-xz.gz"));
    auto r = DataDecompression::decompressFile(dir.file("Packages-really-xz.gz"), dir.file("out"));
    ASSERT_TRUE(r.ok()) << r.error->detail;
    EXPECT_EQ(DataDecompression::detectFormat("Packages", plain), Format::None);
    EXPECT_EQ(DataDecompression::detectFormat("Packages.gz", plain), Format::Gzip);
    EXPECT_EQ(DataDecompression::formatForName("https://repo.example.com/Packages.BZ2?x=1"), Format::Bzip2);
    EXPECT_EQ(DataDecompression::formatForName("Packages"), Format::None);
    auto stored = DataDecompression::decompressFile(dir.file("Packages"), dir.file("copy"));
    ASSERT_TRUE(stored.ok());
    EXPECT_TRUE(TestSupport::readFile(dir.file("copy")) == plain);
}

TEST_F(DecompressionTest, DamagedInputFailsWithCode31AndLeavesNoFile) {
    for (const auto& v : kVariants) {
        SCOPED_TRACE(v.extension);
        std::string data = compressed(v);
        std::string flipped = data, garbage;
        flipped[flipped.size() / 2] = static_cast<char>(~flipped[flipped.size() / 2]);
        for (int i = 0; i < 5000; ++i) garbage += static_cast<char>(i * 31 % 251);
        const std::pair<const char*, std::string> damaged[] = {
            {"truncated", data.substr(0, data.size() / 2)}, {"cut short", data.substr(0, data.size() - 3)},
            {"empty", ""}, {"trailing garbage", data + "GARBAGE!"}, {"flipped", flipped}, {"garbage", garbage}};
        for (const auto& [what, bytes] : damaged) {
            auto r = DataDecompression::decompress(bytes, v.format);
            ASSERT_FALSE(r.ok()) << what;
            EXPECT_EQ(r.error->code, ZMError::DecompressionFailed) << what;
            EXPECT_EQ(r.error->domain, ZMError::kDomain);

            TestSupport::writeFile(dir.file("bad"), bytes);
            auto f = DataDecompression::decompressFile(dir.file("bad"), dir.file("bad.out"), v.format);
            EXPECT_FALSE(f.ok()) << what;
            EXPECT_FALSE(fs::exists(dir.file("bad.out"))) << what;
        }
    }
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
}

// Some tools and servers pad a .gz file with zero bytes after its member: the
// padding is no part of the text and no damage; anything else after the
// member still is.
TEST_F(DecompressionTest, ZeroPaddingAfterAGzipMemberReadsAsTheText) {
    const std::string data = compressed(kVariants[0]);
    const std::pair<std::string, bool> cases[] = {
        {data + std::string(1, '\0'), true},
        {data + std::string(512, '\0'), true},
        {data + std::string(70000, '\0'), true},  // more than one chunk of input
        {data + std::string(512, '\0') + "GARBAGE!", false},
        {data + std::string(8, '\0') + "\x1f", false},
        {data + "\x01" + std::string(511, '\0'), false},
        {data + std::string(16, '\0') + std::string(16, ' '), false},
    };
    for (const auto& [bytes, reads] : cases) {
        SCOPED_TRACE(std::to_string(bytes.size() - data.size()) + " bytes after the member, " + (reads ? "padding" : "garbage"));
        auto buffer = DataDecompression::decompress(bytes, Format::Gzip);
        EXPECT_EQ(buffer.ok(), reads);
        if (buffer.ok()) { EXPECT_TRUE(*buffer.value == plain); }
        else { EXPECT_EQ(buffer.error->code, ZMError::DecompressionFailed); }

        TestSupport::writeFile(dir.file("padded.gz"), bytes);
        auto file = DataDecompression::decompressFile(dir.file("padded.gz"), dir.file("padded.out"));
        EXPECT_EQ(file.ok(), reads);
        EXPECT_EQ(fs::exists(dir.file("padded.out")), reads);
        if (file.ok()) { EXPECT_TRUE(TestSupport::readFile(dir.file("padded.out")) == plain); }
        fs::remove(dir.file("padded.out"));

        // Given a byte at a time, as a slow download arrives.
        DataDecompression::Decompressor d(Format::Gzip);
        std::string out;
        auto sink = [&](std::string_view piece) {
            out.append(piece);
            return true;
        };
        bool failed = false;
        for (size_t i = 0; i < bytes.size() && !failed; ++i) failed = d.feed(bytes.substr(i, 1), sink).has_value();
        if (!failed) failed = d.finish(sink).has_value();
        EXPECT_EQ(!failed, reads);
        if (!failed) { EXPECT_TRUE(out == plain); }
    }
}

TEST_F(DecompressionTest, ADecompressionBombHitsTheCap) {
    // 64 MiB of zeros shrink to a few kilobytes; with a 1 MiB cap they must fail, not fill memory.
    for (const auto& v : kVariants) {
        SCOPED_TRACE(v.extension);
        std::string bomb = dir.file(std::string("bomb") + v.extension);
        std::string command = "head -c 67108864 /dev/zero | " + std::string(v.command) + " > " + bomb;
        ASSERT_EQ(std::system(command.c_str()), 0);
        ASSERT_LT(fs::file_size(bomb), 1u << 20);
        auto r = DataDecompression::decompress(TestSupport::readFile(bomb), v.format, 1 << 20);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error->code, ZMError::DecompressionFailed);
        auto f = DataDecompression::decompressFile(bomb, dir.file("bomb.out"), std::nullopt, 1 << 20);
        EXPECT_FALSE(f.ok());
        EXPECT_FALSE(fs::exists(dir.file("bomb.out")));
        // Exactly at the cap is still fine.
        auto exact = DataDecompression::decompress(compressed(v), v.format, plain.size());
        EXPECT_TRUE(exact.ok());
        EXPECT_FALSE(DataDecompression::decompress(compressed(v), v.format, plain.size() - 1).ok());
    }
}

// A bomb given whole to feedSome() comes out a part at a time, every part
// near the size asked for, and whole in the end; so does an ordinary index.
TEST_F(DecompressionTest, FeedSomeTakesABombAPartAtATime) {
    constexpr uint64_t kEnough = 256 << 10;
    constexpr uint64_t kStep = 64 << 10;  // the most one step of a library adds
    for (const auto& v : kVariants) {
        SCOPED_TRACE(v.extension);
        const std::string bomb = dir.file(std::string("bomb") + v.extension);
        const std::string command = "head -c 67108864 /dev/zero | " + std::string(v.command) + " > " + bomb;
        ASSERT_EQ(std::system(command.c_str()), 0);
        for (const bool isBomb : {true, false}) {
            SCOPED_TRACE(isBomb ? "bomb" : "index");
            const std::string data = isBomb ? TestSupport::readFile(bomb) : compressed(v);
            DataDecompression::Decompressor d(v.format);
            std::string out;
            uint64_t largest = 0, zeros = 0;
            auto sink = [&](std::string_view piece) {
                if (isBomb) zeros += static_cast<uint64_t>(std::count(piece.begin(), piece.end(), '\0'));
                else out.append(piece);
                return true;
            };
            std::string_view rest = data;
            int calls = 0;
            auto step = [&](std::string_view input) -> size_t {
                const uint64_t before = d.totalOutput();
                auto took = d.feedSome(input, kEnough, sink);
                EXPECT_TRUE(took.ok()) << (took.ok() ? std::string() : took.error->debugDescription());
                largest = std::max(largest, d.totalOutput() - before);
                ++calls;
                return took.ok() ? *took.value : input.size();
            };
            while (!rest.empty() && calls < 100000) rest.remove_prefix(step(rest));
            // What is still held once the input has ended.
            for (uint64_t before = ~0ull; before != d.totalOutput() && calls < 100000;) {
                before = d.totalOutput();
                step({});
            }
            ASSERT_FALSE(d.finish(sink)) << "every byte taken, the stream is whole";
            EXPECT_LE(largest, kEnough + kStep);
            if (isBomb) {
                EXPECT_EQ(zeros, 67108864u);
                EXPECT_GT(calls, 67108864 / static_cast<int>(kEnough + kStep));
            } else {
                EXPECT_EQ(out, plain);
            }
        }
    }
}

}  // namespace
