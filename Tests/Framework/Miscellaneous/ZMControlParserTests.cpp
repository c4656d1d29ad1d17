#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "Miscellaneous/ZMControlParser.h"
#include "Support/TestSupport.h"

namespace {

std::vector<ZMOwnedControlStanza> parseAll(std::string_view text) {
    std::vector<ZMOwnedControlStanza> out;
    ZMControlParser::forEachStanza(text, [&](const ZMControlStanza& s) {
        out.push_back(s.toOwned());
        return true;
    });
    return out;
}

std::vector<ZMOwnedControlStanza> parseInChunks(std::string_view text, size_t chunk, size_t* maxPending = nullptr) {
    std::vector<ZMOwnedControlStanza> out;
    ZMControlParser parser([&](const ZMControlStanza& s) {
        out.push_back(s.toOwned());
        return true;
    });
    for (size_t i = 0; i < text.size(); i += chunk) {
        parser.feed(text.substr(i, chunk));
        if (maxPending) *maxPending = std::max(*maxPending, parser.pendingBytes());
    }
    parser.finish();
    EXPECT_EQ(parser.stanzaCount(), out.size());
    return out;
}

std::string dump(const std::vector<ZMOwnedControlStanza>& stanzas) {
    std::string s;
    for (const auto& st : stanzas) s += st.serialized() + "--\n";
    return s;
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t p = 0; (p = s.find(from, p)) != std::string::npos; p += to.size()) s.replace(p, from.size(), to);
    return s;
}

const std::string kIndex =
    "Package: com.example.alpha\n"
    "Version: 1.0-1\n"
    "Description: A short line  \n"
    " First paragraph line.\n"
    " .\n"
    "\tTabbed continuation.\n"
    "Depends: firmware-sbin (>= 0.3), \n"
    "  coreutils\n"
    "\n"
    "# a comment between stanzas\n"
    "package: com.example.beta\n"
    "VERSION:2:0.9~rc1\n"
    "Name : Beta Tool\n"
    "Empty:\n"
    "\n"
    " \t \n"
    "\n"
    "SHA256:\n"
    " aaaa 12 main/Packages\n"
    " bbbb 34 main/Packages.xz\n"
    "Origin: Example\n";

}  // namespace

TEST(ZMControlParser, FieldsValuesAndContinuations) {
    const auto stanzas = parseAll(kIndex);
    ASSERT_EQ(stanzas.size(), 3u);

    const auto& a = stanzas[0];
    EXPECT_EQ(a.field("Package"), "com.example.alpha");
    EXPECT_EQ(a.field("pAcKaGe"), "com.example.alpha");
    // Inner lines stay as written, trailing blanks included; the value's own end is trimmed.
    EXPECT_EQ(a.field("Description"), "A short line  \n First paragraph line.\n .\n\tTabbed continuation.");
    EXPECT_EQ(ZMControlParser::firstLine(*a.field("Description")), "A short line");
    EXPECT_EQ(a.field("Depends"), "firmware-sbin (>= 0.3), \n  coreutils");
    EXPECT_FALSE(a.field("Missing").has_value());
    ASSERT_EQ(a.size(), 4u);
    EXPECT_EQ(a.fieldAt(2).name, "Description");  // file order

    const auto& b = stanzas[1];
    EXPECT_EQ(b.field("Package"), "com.example.beta");
    EXPECT_EQ(b.field("version"), "2:0.9~rc1");
    EXPECT_EQ(b.field("Name"), "Beta Tool");
    ASSERT_TRUE(b.field("Empty").has_value());
    EXPECT_EQ(*b.field("Empty"), "");

    // A stanza without Package is reported; the caller decides.
    const auto& r = stanzas[2];
    EXPECT_FALSE(r.has("Package"));
    EXPECT_EQ(r.field("SHA256"), "\n aaaa 12 main/Packages\n bbbb 34 main/Packages.xz");
    EXPECT_EQ(r.field("Origin"), "Example");
}

TEST(ZMControlParser, CrlfAndMissingNewlineGiveTheSameValues) {
    const std::string crlf = replaceAll(kIndex, "\n", "\r\n");
    EXPECT_EQ(dump(parseAll(crlf)), dump(parseAll(kIndex)));
    std::string noNewline = kIndex;
    noNewline.pop_back();
    EXPECT_EQ(dump(parseAll(noNewline)), dump(parseAll(kIndex)));
    EXPECT_EQ(dump(parseAll("\n\n  \n" + kIndex + "\n \n\n")), dump(parseAll(kIndex)));
    // CRLF views point into the parser's own copy only for multi-line values.
    ZMControlParser::forEachStanza(crlf, [&](const ZMControlStanza& s) {
        const auto v = s.field("Package");
        if (v) { EXPECT_TRUE(v->data() >= crlf.data() && v->data() < crlf.data() + crlf.size()); }
        for (const auto& f : s.fields()) EXPECT_EQ(f.value.find('\r'), std::string_view::npos) << f.name;
        return true;
    });
}

TEST(ZMControlParser, ViewsPointIntoTheBufferAndRawIsTheStanzaText) {
    const std::string text = "Package: a1\nVersion: 1\n\nPackage: b2\n";
    std::vector<std::string> raws;
    ZMControlParser::forEachStanza(text, [&](const ZMControlStanza& s) {
        for (const auto& f : s.fields()) {
            EXPECT_GE(f.value.data(), text.data());
            EXPECT_LE(f.value.data() + f.value.size(), text.data() + text.size());
        }
        raws.emplace_back(s.raw());
        return true;
    });
    EXPECT_EQ(raws, (std::vector<std::string>{"Package: a1\nVersion: 1\n", "Package: b2\n"}));
}

TEST(ZMControlParser, GarbageIsSkippedWithoutFailing) {
    const std::string text = std::string("  orphan continuation\n"
                                         "no colon on this line\n"
                                         ": empty name\n"
                                         "Package: ok\n"
                                         "Bin\0ary: v\0al\n"
                                         "Dup: first\n"
                                         "Dup: second\n"
                                         "\x01\x02\xff\xfe\n"
                                         "# only a comment\n"
                                         "\n"
                                         "# a stanza of comments only\n"
                                         "\n",
                                         150);
    const auto stanzas = parseAll(text);
    ASSERT_EQ(stanzas.size(), 1u);
    const auto& s = stanzas[0];
    EXPECT_EQ(s.field("Package"), "ok");
    EXPECT_EQ(s.field(std::string("Bin\0ary", 7)), std::string("v\0al", 4));
    EXPECT_EQ(s.field("Dup"), "first");
    EXPECT_EQ(s.size(), 4u);  // Package, Bin\0ary, Dup, Dup
}

// Strict stanzas are those apt reads as we do: apt takes the last of
// duplicate fields and reads "#" and colon-less lines its own way.
TEST(ZMControlParser, StrictStanzasAreThoseAptReadsAsWeDo) {
    const struct {
        const char* text;
        bool strict;
    } cases[] = {
        {"Package: a\nVersion: 1.0\nDescription: x\n more\n .\n", true},
        {"Package: a\r\nVersion: 1.0\r\n", true},
        {"Package: a\nVersion: 1.0\npackage: b\n", false},
        {"Package: a\n#Package: b\nVersion: 1.0\n", false},
        {"Package: a\nno colon here\n", false},
        {" orphan\nPackage: a\n", false},
        {"Package : a\n", false},
        {"-Package: a\n", false},
        {": empty name\nPackage: a\n", false},
    };
    for (const auto& c : cases) {
        std::optional<bool> strict;
        ZMControlParser::forEachStanza(c.text, [&](const ZMControlStanza& s) {
            strict = s.isStrict();
            return false;
        });
        EXPECT_EQ(strict, c.strict) << c.text;
    }
    // Each stanza is judged on its own.
    std::vector<bool> each;
    ZMControlParser::forEachStanza("Package: a\nPackage: a\n\nPackage: b\n", [&](const ZMControlStanza& s) {
        each.push_back(s.isStrict());
        return true;
    });
    EXPECT_EQ(each, (std::vector<bool>{false, true}));
}

TEST(ZMControlParser, StopsWhenTheCallbackSaysSo) {
    const std::string text = "Package: a1\n\nPackage: b2\n\nPackage: c3\n";
    std::vector<std::string> seen;
    const size_t n = ZMControlParser::forEachStanza(text, [&](const ZMControlStanza& s) {
        seen.emplace_back(*s.field("Package"));
        return seen.size() < 2;
    });
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(seen, (std::vector<std::string>{"a1", "b2"}));

    seen.clear();
    ZMControlParser parser([&](const ZMControlStanza& s) {
        seen.emplace_back(*s.field("Package"));
        return false;
    });
    EXPECT_FALSE(parser.feed(text));
    EXPECT_FALSE(parser.feed("Package: d4\n\n"));
    EXPECT_FALSE(parser.finish());
    EXPECT_EQ(seen, (std::vector<std::string>{"a1"}));
}

TEST(ZMControlParser, StreamingMatchesWholeBufferForEveryChunkSize) {
    std::string text = kIndex + "\n" + replaceAll(kIndex, "\n", "\r\n") + "\r\n\r\n" +
                       TestSupport::readFile(TestSupport::dataDirectory() + "/Debian/Packages-bookworm-sample");
    const std::string expected = dump(parseAll(text));
    for (size_t chunk : {1u, 2u, 3u, 5u, 7u, 13u, 64u, 1000u, 4096u, 100000u}) {
        size_t maxPending = 0;
        EXPECT_EQ(dump(parseInChunks(text, chunk, &maxPending)), expected) << "chunk " << chunk;
        // Only one unfinished stanza is ever held, never the whole input.
        EXPECT_LT(maxPending, 4000u) << "chunk " << chunk;
    }
}

TEST(ZMControlParser, RandomBytesNeverBreakItAndStreamingAgrees) {
    std::mt19937 rng(7);
    const std::string alphabet = std::string("Pkg: \n\n\t \r#:ab\0\xff", 16);
    size_t reported = 0;
    for (int round = 0; round < 200; ++round) {
        std::string text(rng() % 400, '\0');
        for (char& c : text) c = (rng() % 4 == 0) ? static_cast<char>(rng()) : alphabet[rng() % alphabet.size()];
        const auto stanzas = parseAll(text);
        reported += stanzas.size();
        const std::string whole = dump(stanzas);
        EXPECT_EQ(dump(parseInChunks(text, 1 + rng() % 17)), whole) << "round " << round;
    }
    EXPECT_GT(reported, 200u);  // the input does make stanzas, so the comparison means something
}

TEST(ZMControlParser, RealIndexSample) {
    const std::string text = TestSupport::readFile(TestSupport::dataDirectory() + "/Debian/Packages-bookworm-sample");
    size_t count = 0;
    std::string firstTag;
    ZMControlParser::forEachStanza(text, [&](const ZMControlStanza& s) {
        ++count;
        EXPECT_TRUE(s.has("Package"));
        EXPECT_TRUE(s.has("Version"));
        EXPECT_TRUE(s.has("Filename"));
        EXPECT_EQ(s.field("SHA256").value_or("").size(), 64u) << *s.field("Package");
        if (firstTag.empty() && s.field("Tag") && s.field("Tag")->find('\n') != std::string_view::npos)
            firstTag = std::string(*s.field("Tag"));
        return true;
    });
    EXPECT_EQ(count, 32u);
    EXPECT_EQ(firstTag,
              "game::strategy, interface::graphical, interface::x11, role::program,\n"
              " uitoolkit::sdl, uitoolkit::wxwidgets, use::gameplaying,\n"
              " x11::application");
}

TEST(ZMOwnedControlStanza, OutlivesTheBufferSelectsAndRoundTrips) {
    ZMOwnedControlStanza full, picked;
    {
        std::string text = "Package: a1\nVersion: 1\nDescription: x\n more\nSection: Tweaks\n";
        ZMControlParser::forEachStanza(text, [&](const ZMControlStanza& s) {
            full = s.toOwned();
            picked = s.toOwned({"section", "PACKAGE"});
            return true;
        });
        text.assign(text.size(), 'X');  // the owned copies must not look at it
    }
    EXPECT_EQ(full.field("description"), "x\n more");
    ASSERT_EQ(picked.size(), 2u);
    EXPECT_EQ(picked.fieldAt(0).name, "Package");  // file order, not the order asked
    EXPECT_EQ(picked.fieldAt(1).value, "Tweaks");
    EXPECT_FALSE(picked.has("Version"));

    full.append("SHA256", "\n aa 1 f");
    const auto again = parseAll(full.serialized());
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].serialized(), full.serialized());
    EXPECT_EQ(again[0].field("SHA256"), "\n aa 1 f");
}
