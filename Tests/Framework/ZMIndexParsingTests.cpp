// The shared parsing threads: many indexes at once each come out whole and
// in their own order, a fault ends only its own index, records wait for the
// writer while the list does not (not even the list of the index the writer
// is on), and only a few indexes are read at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <random>
#include <thread>

#include <fmt/format.h>

#include "Support/TestSupport.h"
#include "ZMIndexParsing.h"

namespace {

struct Index {
    std::string text;                  // as served
    std::vector<std::string> accepted; // identifiers taken, in order
    std::string list;                  // the list file expected
};

// `count` stanzas of about `bytes` each; those whose name ends in 7 are refused.
Index makeIndex(int id, int count, size_t bytes = 300) {
    Index index;
    for (int i = 0; i < count; ++i) {
        const std::string name = fmt::format("p{}-{:05}", id, i);
        std::string stanza = "Package: " + name + "\nVersion: 1.0\nDescription: x\n " +
                             std::string(bytes > 60 ? bytes - 60 : 1, 'a' + static_cast<char>(i % 26)) + "\n";
        index.text += stanza + (i % 5 == 0 ? " \t\n" : "\n");
        if (name.back() == '7') continue;
        index.accepted.push_back(name);
        index.list += stanza + "\n";
    }
    return index;
}

// The text in chunks of random sizes; `onCall` sees every call.
ZMIndexStream::Text chunks(const std::string& text, unsigned seed, std::function<void(bool ended)> onCall = nullptr) {
    auto at = std::make_shared<size_t>(0);
    auto random = std::make_shared<std::mt19937>(seed);
    return [&text, at, random, onCall](std::string& buffer) {
        const size_t n = std::uniform_int_distribution<size_t>(1, 300 << 10)(*random);
        const std::string chunk = text.substr(std::min(*at, text.size()), n);
        buffer += chunk;
        *at += chunk.size();
        if (onCall) onCall(chunk.empty());
        return !chunk.empty();
    };
}

ZMIndexStream::Accept accept() {
    return [](const ZMControlStanza& stanza, ZMParseTally& tally) {
        auto name = stanza.field("Package");
        if (!name || name->back() == '7') {
            ++tally.skipped;
            return false;
        }
        ++tally.valid;
        return true;
    };
}

ZMIndexStream::Convert convert(std::atomic<size_t>* made = nullptr) {
    return [made](const ZMControlStanza& stanza, ZMParsedBatch& batch) {
        batch.stanzas.emplace_back().record.identifier = std::string(*stanza.field("Package"));
        if (made) ++*made;
    };
}

std::vector<std::string> drain(ZMIndexStream& stream) {
    std::vector<std::string> out;
    ZMParsedBatch batch;
    while (stream.pop(batch)) {
        for (const auto& s : batch.stanzas) out.push_back(s.record.identifier);
        stream.giveBack(std::move(batch));
        batch = ZMParsedBatch();
    }
    return out;
}

class IndexParsing : public ::testing::Test {
protected:
    TestSupport::TempDir dir;
    std::string listPath(int i) const { return dir.path() + "/list-" + std::to_string(i); }
};

TEST_F(IndexParsing, ManyIndexesAtOnceComeOutWholeAndInTheirOwnOrder) {
    constexpr int kIndexes = 12;
    std::vector<Index> indexes;
    for (int i = 0; i < kIndexes; ++i) indexes.push_back(makeIndex(i, 1000 + 700 * i, 200 + 60 * i));
    std::vector<std::shared_ptr<ZMIndexStream>> streams;
    for (int i = 0; i < kIndexes; ++i) {
        auto opened = ZMIndexParsing::shared().open(chunks(indexes[i].text, i), listPath(i), accept(), convert());
        ASSERT_TRUE(opened) << opened.error->debugDescription();
        streams.push_back(*opened.value);
    }
    // Each index has a writer of its own, as refreshes of several sources do in turn.
    std::vector<std::vector<std::string>> taken(kIndexes);
    std::vector<std::thread> writers;
    for (int i = 0; i < kIndexes; ++i) writers.emplace_back([&, i] { taken[i] = drain(*streams[i]); });
    for (auto& w : writers) w.join();
    for (int i = 0; i < kIndexes; ++i) {
        EXPECT_FALSE(streams[i]->error()) << i;
        EXPECT_FALSE(streams[i]->waitForList()) << i;
        EXPECT_EQ(taken[i], indexes[i].accepted) << i;
        EXPECT_EQ(TestSupport::readFile(listPath(i)), indexes[i].list) << i;
        const ZMParseTally tally = streams[i]->tally();
        EXPECT_EQ(tally.valid, indexes[i].accepted.size()) << i;
        EXPECT_EQ(tally.valid + tally.skipped, size_t(1000 + 700 * i)) << i;
    }
}

TEST_F(IndexParsing, AFaultEndsOnlyItsOwnIndex) {
    const Index good = makeIndex(1, 6000);
    const Index big = makeIndex(2, 6000);
    std::string binary = big.text;
    binary.insert(binary.size() - 5000, std::string("\0", 1));
    struct Case {
        const char* what;
        ZMIndexStream::Text text;
        int code;
    };
    std::atomic<int> calls{0};
    const std::vector<Case> cases = {
        {"a text that fails after a few chunks",
         [&, inner = chunks(big.text, 3)](std::string& buffer) {
             if (++calls > 4) throw ZMIndexFailure{ZMError::make(ZMError::DecompressionFailed, "truncated")};
             return inner(buffer);
         },
         ZMError::DecompressionFailed},
        {"binary data near the end", chunks(binary, 4), ZMError::InvalidServerData},
        {"an exception of another kind",
         [](std::string&) -> bool { throw std::runtime_error("disk gone"); }, ZMError::Unknown},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        auto faulty = ZMIndexParsing::shared().open(cases[i].text, listPath(int(i)), accept(), convert());
        auto fine = ZMIndexParsing::shared().open(chunks(good.text, 5), listPath(100 + int(i)), accept(), convert());
        ASSERT_TRUE(faulty && fine);
        std::vector<std::string> fromFine;
        std::thread other([&] { fromFine = drain(**fine.value); });
        auto error = (*faulty.value)->waitForList();
        ASSERT_TRUE(error) << cases[i].what;
        EXPECT_EQ(error->code, cases[i].code) << cases[i].what;
        ZMParsedBatch batch;
        EXPECT_FALSE((*faulty.value)->pop(batch)) << cases[i].what;
        EXPECT_EQ((*faulty.value)->error()->code, cases[i].code) << cases[i].what;
        other.join();
        EXPECT_EQ(fromFine, good.accepted) << cases[i].what;
    }
}

// Records are made only a few pieces ahead of writers that have not come
// yet, for all indexes together, while their lists are written meanwhile.
TEST_F(IndexParsing, RecordsWaitForTheWriterTheListDoesNot) {
    constexpr size_t kStanzaBytes = 1000;
    std::vector<Index> indexes;
    std::atomic<size_t> made{0};
    std::vector<std::shared_ptr<ZMIndexStream>> streams;
    for (int i = 0; i < 3; ++i) indexes.push_back(makeIndex(3 + i, 8000, kStanzaBytes));
    for (int i = 0; i < 3; ++i) {
        auto opened = ZMIndexParsing::shared().open(chunks(indexes[i].text, 6 + i), listPath(i), accept(), convert(&made));
        ASSERT_TRUE(opened);
        streams.push_back(*opened.value);
    }
    for (int i = 0; i < 3; ++i) {
        ASSERT_FALSE(streams[i]->waitForList());
        EXPECT_EQ(TestSupport::readFile(listPath(i)), indexes[i].list);
    }
    TestSupport::pumpMainLoop(std::chrono::milliseconds(100));  // time for any work still to come
    const size_t perPiece = ZMIndexParsing::kPiece / kStanzaBytes + 1;
    EXPECT_LE(made.load(), (ZMIndexParsing::kBatchesPrefetched + 1) * perPiece);
    EXPECT_GT(made.load(), 0u) << "the first pieces are made ahead";
    for (int i = 0; i < 3; ++i) EXPECT_EQ(drain(*streams[i]), indexes[i].accepted);
}

// The list of the index a writer is on ends even while the writer holds
// back (a long transaction): apt rebuilds its caches from the lists, so the
// list may not wait for the records; they follow, whole and in order.
TEST_F(IndexParsing, TheListEndsWhileItsWriterHoldsBack) {
    constexpr size_t kStanzaBytes = 1000;
    // More pieces than the read-ahead and the writer's window hold together.
    const auto pieces = 2 * (ZMIndexParsing::kPiecesAhead + ZMIndexParsing::kBatchesAhead);
    const Index index = makeIndex(7, static_cast<int>(pieces * ZMIndexParsing::kPiece / kStanzaBytes), kStanzaBytes);
    for (size_t taken : {0, 1, 4}) {  // batches the writer took before it stopped
        SCOPED_TRACE(taken);
        auto opened = ZMIndexParsing::shared().open(chunks(index.text, 70), listPath(int(taken)), accept(), convert());
        ASSERT_TRUE(opened);
        ZMIndexStream& stream = **opened.value;
        std::vector<std::string> out;
        ZMParsedBatch batch;
        for (size_t i = 0; i < taken && stream.pop(batch); ++i)
            for (const auto& s : batch.stanzas) out.push_back(s.record.identifier);
        auto listed = std::async(std::launch::async, [&stream] { return stream.waitForList(); });
        EXPECT_EQ(listed.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "the list waited for the writer";
        const auto rest = drain(stream);  // the writer goes on
        out.insert(out.end(), rest.begin(), rest.end());
        EXPECT_FALSE(listed.get());
        EXPECT_EQ(TestSupport::readFile(listPath(int(taken))), index.list);
        EXPECT_EQ(out, index.accepted);
    }
}

// Each index being read holds a decompressor: only a few are read at once,
// in the order they came, however many are waiting.
TEST_F(IndexParsing, OnlyAFewIndexesAreReadAtOnce) {
    constexpr int kIndexes = 8;
    std::vector<Index> indexes;
    for (int i = 0; i < kIndexes; ++i) indexes.push_back(makeIndex(10 + i, 5000));
    std::atomic<int> reading{0}, most{0};
    std::vector<std::shared_ptr<ZMIndexStream>> streams;
    for (int i = 0; i < kIndexes; ++i) {
        auto started = std::make_shared<bool>(false);
        auto opened = ZMIndexParsing::shared().open(chunks(indexes[i].text, 20 + i,
                                                           [&, started](bool ended) {
                                                               if (!*started) {
                                                                   *started = true;
                                                                   most = std::max(most.load(), ++reading);
                                                               }
                                                               if (ended) --reading;
                                                           }),
                                                    listPath(i), accept(), convert());
        ASSERT_TRUE(opened);
        streams.push_back(*opened.value);
    }
    std::vector<std::thread> writers;
    std::vector<std::vector<std::string>> taken(kIndexes);
    for (int i = 0; i < kIndexes; ++i) writers.emplace_back([&, i] { taken[i] = drain(*streams[i]); });
    for (auto& w : writers) w.join();
    for (int i = 0; i < kIndexes; ++i) EXPECT_EQ(taken[i], indexes[i].accepted) << i;
    EXPECT_LE(most.load(), int(ZMIndexParsing::kReadersAtOnce));
    EXPECT_GE(most.load(), 1);
}

// Small stanzas make small pieces: a piece's records (a few kilobytes each,
// whatever the stanza's size) stay within kPieceStanzas.
TEST_F(IndexParsing, PiecesOfSmallStanzasHoldAFewOfThem) {
    const Index index = makeIndex(60, 20000, 1);
    ASSERT_LT(index.text.size(), 20000u * 64);
    auto opened = ZMIndexParsing::shared().open(chunks(index.text, 60), listPath(0), accept(), convert());
    ASSERT_TRUE(opened);
    std::vector<std::string> taken;
    size_t largest = 0, batches = 0;
    ZMParsedBatch batch;
    while ((*opened.value)->pop(batch)) {
        largest = std::max(largest, batch.stanzas.size());
        ++batches;
        for (const auto& stanza : batch.stanzas) taken.push_back(stanza.record.identifier);
        batch = ZMParsedBatch();
    }
    EXPECT_EQ(taken, index.accepted);
    EXPECT_LE(largest, ZMIndexParsing::kPieceStanzas);
    EXPECT_GE(batches, index.accepted.size() / ZMIndexParsing::kPieceStanzas);
}

// Text without a stanza boundary for longer than any stanza (a bomb's
// endless line, or lines without the blank one) is dropped as it comes,
// counted as one skipped stanza; the stanzas around it are taken, and the
// text held never grows past a few pieces.
TEST_F(IndexParsing, AStanzaBeyondTheLongestIsDroppedAsItComes) {
    const Index before = makeIndex(40, 1500), after = makeIndex(41, 1500);
    constexpr size_t kLong = 24 << 20;
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> accepted;
        std::string list;
    };
    std::string lines;
    while (lines.size() < kLong) lines += "Description: a line of a stanza that never ends\n";
    const std::vector<Case> cases = {
        {"one line", std::string(kLong, 'a'), {}, ""},
        {"lines without a blank one", lines, {}, ""},
        {"a long stanza between others",
         before.text + "Package: long\nDescription: x\n" + lines + " \t\n\n" + after.text,
         [&] {
             auto both = before.accepted;
             both.insert(both.end(), after.accepted.begin(), after.accepted.end());
             return both;
         }(),
         before.list + after.list},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        auto held = std::make_shared<std::atomic<size_t>>(0);
        auto inner = chunks(c.text, 50 + unsigned(i));
        auto opened = ZMIndexParsing::shared().open(
            [held, inner](std::string& text) {
                *held = std::max(held->load(), text.size());
                return inner(text);
            },
            listPath(int(i)), accept(), convert());
        ASSERT_TRUE(opened);
        auto stream = *opened.value;
        EXPECT_EQ(drain(*stream), c.accepted);
        ASSERT_FALSE(stream->waitForList());
        EXPECT_EQ(TestSupport::readFile(listPath(int(i))), c.list);
        const ZMParseTally tally = stream->tally();
        EXPECT_TRUE(tally.sawText);
        EXPECT_EQ(tally.valid, c.accepted.size());
        // The long one, and in the last case the refusals of the two indexes around it.
        const size_t refusedAround = i == 2 ? 3000 - c.accepted.size() : 0;
        EXPECT_EQ(tally.skipped, refusedAround + 1);
        // A few pieces, the longest stanza kept, and one chunk of the source.
        EXPECT_LE(held->load(), ZMIndexParsing::kPiece + ZMIndexParsing::kLongestStanza + (300 << 10));
    }
}

// A writer that gives up (a refresh that failed elsewhere) frees its index:
// nothing more is read, and the others go on.
TEST_F(IndexParsing, AnIndexGivenUpStopsReading) {
    const Index index = makeIndex(30, 20000);
    const Index other = makeIndex(31, 3000);
    std::atomic<int> calls{0};
    // A slow source (a slow disk, a slow decompressor): the list pass is far from its end when the writer gives up.
    auto opened = ZMIndexParsing::shared().open(chunks(index.text, 7,
                                                       [&](bool) {
                                                           ++calls;
                                                           std::this_thread::sleep_for(std::chrono::milliseconds(10));
                                                       }),
                                                listPath(0), accept(), convert());
    auto second = ZMIndexParsing::shared().open(chunks(other.text, 8), listPath(1), accept(), convert());
    ASSERT_TRUE(opened && second);
    {
        auto stream = *opened.value;
        ZMParsedBatch batch;
        ASSERT_TRUE(stream->pop(batch));
        stream->cancel();
        EXPECT_FALSE(stream->pop(batch));
    }
    opened.value->reset();  // the last owner: the pool lets go
    const int atEnd = calls.load();
    EXPECT_EQ(drain(**second.value), other.accepted);
    EXPECT_EQ(calls.load(), atEnd);
    EXPECT_LT(atEnd, int(index.text.size() / (300 << 10))) << "stopped before the end";
}

}  // namespace
