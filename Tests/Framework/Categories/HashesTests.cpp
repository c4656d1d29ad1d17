#include <gtest/gtest.h>

#include <cstdio>

#include "Categories/Data+Hashes.h"
#include "Support/TestSupport.h"

TEST(DataHashes, KnownVectors) {
    EXPECT_EQ(DataHashes::md5(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(DataHashes::md5("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(DataHashes::sha1("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(DataHashes::sha1(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(DataHashes::sha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(DataHashes::sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // Bytes, not C strings: an embedded NUL counts.
    EXPECT_NE(DataHashes::md5(std::string("a\0b", 3)), DataHashes::md5("a"));
}

TEST(DataHashes, FilesAndPiecesMatchWholeBuffers) {
    TestSupport::TempDir dir;
    std::string data;
    for (unsigned i = 0; i < 300000; ++i) data += static_cast<char>((i * 7919u) % 256);
    TestSupport::writeFile(dir.file("blob"), data);
    EXPECT_EQ(DataHashes::sha256OfFile(dir.file("blob")), DataHashes::sha256(data));
    EXPECT_EQ(DataHashes::md5OfFile(dir.file("blob")), DataHashes::md5(data));
    EXPECT_EQ(DataHashes::sha1OfFile(dir.file("blob")), DataHashes::sha1(data));
    EXPECT_FALSE(DataHashes::md5OfFile(dir.file("missing")));

    // The same as the system's own tool.
    std::string command = "sha256sum " + dir.file("blob");
    FILE* p = popen(command.c_str(), "r");
    ASSERT_TRUE(p);
    char line[128] = {0};
    ASSERT_TRUE(fgets(line, sizeof line, p));
    pclose(p);
    EXPECT_EQ(std::string(line).substr(0, 64), DataHashes::sha256(data));

    DataHashes::Hasher h(DataHashes::Algorithm::SHA1);
    for (size_t pos = 0; pos < data.size(); pos += 4097) h.update(std::string_view(data).substr(pos, 4097));
    EXPECT_EQ(h.finish(), DataHashes::sha1(data));
    // After finish the hasher starts over.
    h.update("abc");
    EXPECT_EQ(h.finish(), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(DataHashes, Hex) {
    EXPECT_EQ(DataHashes::hexString(std::string("\x00\x01\xab\xff", 4)), "0001abff");
    EXPECT_EQ(DataHashes::dataFromHexString("0001ABff"), std::string("\x00\x01\xab\xff", 4));
    EXPECT_EQ(DataHashes::dataFromHexString(""), "");
    EXPECT_FALSE(DataHashes::dataFromHexString("abc"));
    EXPECT_FALSE(DataHashes::dataFromHexString("zz"));
    EXPECT_FALSE(DataHashes::dataFromHexString("0x"));
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    EXPECT_EQ(DataHashes::dataFromHexString(DataHashes::hexString(all)), all);
}
