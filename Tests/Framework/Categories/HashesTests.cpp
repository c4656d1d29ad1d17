#include <gtest/gtest.h>

#include <cstdio>

#include "Categories/Data+Hashes.h"
#include "Support/TestSupport.h"

namespace {
std::string tool(const std::string& command) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return {};
    char line[256] = {0};
    std::string out = fgets(line, sizeof line, p) ? line : "";
    pclose(p);
    return out.substr(0, out.find(' '));
}
}  // namespace

// Each of our names is the algorithm coreutils means by it, over whole
// buffers, files read in chunks and pieces fed one by one.
TEST(DataHashes, AgreeWithTheSystemToolsOnBuffersFilesAndPieces) {
    TestSupport::TempDir dir;
    std::string data;
    for (unsigned i = 0; i < 300000; ++i) data += static_cast<char>((i * 7919u) % 256);
    TestSupport::writeFile(dir.file("blob"), data);
    using A = DataHashes::Algorithm;
    for (auto [algorithm, command] : {std::pair{A::MD5, "md5sum"}, {A::SHA1, "sha1sum"}, {A::SHA256, "sha256sum"}}) {
        const std::string expected = tool(std::string(command) + " " + dir.file("blob"));
        ASSERT_FALSE(expected.empty()) << command;
        EXPECT_EQ(DataHashes::digest(algorithm, data), expected) << command;
        EXPECT_EQ(DataHashes::digestOfFile(algorithm, dir.file("blob")), expected) << command;
        DataHashes::Hasher h(algorithm);
        for (size_t pos = 0; pos < data.size(); pos += 4097) h.update(std::string_view(data).substr(pos, 4097));
        EXPECT_EQ(h.finish(), expected) << command;
        h.update(data);  // after finish the hasher starts over
        EXPECT_EQ(h.finish(), expected) << command;
    }
    EXPECT_EQ(DataHashes::md5OfFile(dir.file("blob")), DataHashes::md5(data));
    EXPECT_EQ(DataHashes::sha1OfFile(dir.file("blob")), DataHashes::sha1(data));
    EXPECT_EQ(DataHashes::sha256OfFile(dir.file("blob")), DataHashes::sha256(data));
    EXPECT_FALSE(DataHashes::md5OfFile(dir.file("missing")));
    EXPECT_NE(DataHashes::md5(std::string("a\0b", 3)), DataHashes::md5("a"));  // bytes, not C strings
}

TEST(DataHashes, Hex) {
    EXPECT_EQ(DataHashes::hexString(std::string("\x00\x01\xab\xff", 4)), "0001abff");
    EXPECT_EQ(DataHashes::dataFromHexString("0001ABff"), std::string("\x00\x01\xab\xff", 4));
    EXPECT_EQ(DataHashes::dataFromHexString(""), "");
    for (const char* bad : {"abc", "zz", "0x"}) EXPECT_FALSE(DataHashes::dataFromHexString(bad)) << bad;
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    EXPECT_EQ(DataHashes::dataFromHexString(DataHashes::hexString(all)), all);
}
