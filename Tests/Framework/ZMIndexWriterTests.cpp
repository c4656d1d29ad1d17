// The refreshes' single writer: jobs that share a transaction, jobs that
// must have one of their own, what a failure rolls back, and the identifier
// set it keeps between transactions.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "Database/ZMRPackage.h"
#include "Database/ZMRSource.h"
#include "Support/TestSupport.h"
#include "ZMIndexParsing.h"
#include "ZMFunctionTask.h"
#include "ZMIndexWriter.h"
#include "ZMPipelineManager.h"

namespace {

std::set<std::string> storedSources() {
    std::set<std::string> out;
    for (const auto& v : ZMRSource::objectsWhere("").valueForKey("location")) out.insert(v.get<std::string>());
    return out;
}

void addSource(Realm& realm, const std::string& location) {
    auto source = ZMRSource::newSourceWithLocation(location);
    realm.add(source);
}

struct JobSpec {
    std::string adds;   // the source record the job writes
    bool ownTransaction = false;  // it can still fail half-way
    bool refuse = false;          // prepare() refuses it
    bool failAfterWriting = false;
    bool committed = false;       // expected outcome
};

class IndexWriter : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;

    // Queues the specs behind a job that holds the writer, so they are
    // grouped as if they had come together; returns their outcomes.
    // Each job calls `started`, then takes `taking` before it writes.
    std::vector<std::optional<ZMError>> runTogether(const std::vector<JobSpec>& specs,
                                                    std::chrono::milliseconds taking = {},
                                                    std::function<void()> started = nullptr) {
        auto& writer = ZMIndexWriter::shared();
        std::promise<void> release;
        auto released = release.get_future().share();
        ZMIndexWriter::Job holder;
        holder.run = [released](ZMIndexWriter::Session&) { released.wait(); };
        auto held = writer.submit(std::move(holder));
        std::vector<std::future<std::optional<ZMError>>> outcomes;
        for (const auto& spec : specs) {
            ZMIndexWriter::Job job;
            job.cannotFailHalfway = [own = spec.ownTransaction] { return !own; };
            job.prepare = [spec](ZMIndexWriter::Session&) {
                if (spec.refuse) throw ZMIndexFailure{ZMError::make(ZMError::InvalidServerData, "refused " + spec.adds)};
            };
            job.run = [spec, taking, started](ZMIndexWriter::Session& session) {
                if (started) started();
                std::this_thread::sleep_for(taking);
                addSource(session.realm(), spec.adds);
                if (spec.failAfterWriting)
                    throw ZMIndexFailure{ZMError::make(ZMError::DecompressionFailed, "fault in " + spec.adds)};
            };
            outcomes.push_back(writer.submit(std::move(job)));
        }
        release.set_value();
        held.get();  // fails with its transaction's neighbours, or not: not what is tested
        std::vector<std::optional<ZMError>> out;
        for (auto& f : outcomes) out.push_back(f.get());
        return out;
    }
};

TEST_F(IndexWriter, AFailureRollsBackOnlyWhatItsTransactionHeld) {
    const std::string a = "http://a.example/", b = "http://b.example/", c = "http://c.example/",
                      d = "http://d.example/", e = "http://e.example/", f = "http://f.example/";
    struct Case {
        const char* what;
        std::vector<JobSpec> jobs;
        std::vector<std::string> collateral;  // committed jobs undone by another's failure
    };
    const std::vector<Case> cases = {
        // b may fail half-way: it opens a transaction of its own and its fault takes only its write.
        {"own transaction", {{a, false, false, false, true}, {b, true, false, true, false}, {c, false, false, false, true}}, {}},
        // A refusal before writing leaves its neighbours in the transaction alone.
        {"refused", {{d, false, false, false, true}, {e, false, true, false, false}, {f, false, false, false, true}}, {}},
        // A job that could not fail half-way and still did: the transaction goes whole.
        {"fault in a shared transaction", {{a, false, false, false, false}, {b, false, false, true, false}}, {a}},
    };
    for (const auto& c : cases) {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] { realm->deleteObjects(realm->objects<ZMRSource>()); });
        auto outcomes = runTogether(c.jobs);
        std::set<std::string> expected;
        for (size_t i = 0; i < c.jobs.size(); ++i) {
            const JobSpec& spec = c.jobs[i];
            if (spec.committed) expected.insert(spec.adds);
            EXPECT_EQ(!outcomes[i].has_value(), spec.committed) << c.what << ": " << spec.adds;
            if (!outcomes[i]) continue;
            const bool undone = std::find(c.collateral.begin(), c.collateral.end(), spec.adds) != c.collateral.end();
            // The job's own reason, or the neighbour's.
            if (spec.refuse) EXPECT_EQ(outcomes[i]->code, ZMError::InvalidServerData) << c.what;
            else if (spec.failAfterWriting) EXPECT_EQ(outcomes[i]->code, ZMError::DecompressionFailed) << c.what;
            else EXPECT_TRUE(undone) << c.what << ": " << spec.adds << " " << outcomes[i]->detail;
            if (undone) { EXPECT_NE(outcomes[i]->detail.find("could not be written"), std::string::npos) << c.what; }
        }
        EXPECT_EQ(storedSources(), expected) << c.what;
    }
}

// The identifiers are read once and then kept by the jobs; a commit by
// anyone else makes the writer read them again.
TEST_F(IndexWriter, TheIdentifierSetFollowsEveryWriter) {
    auto realm = Realm::defaultRealm();
    auto addPackage = [](Realm& r, const std::string& id) {
        ZMRPackage p;
        p.identifier = id;
        p.sourceLocation = "http://s.example/";
        r.add(p);
    };
    realm->transactionWithBlock([&] { addPackage(*realm, "first"); });
    auto& writer = ZMIndexWriter::shared();
    const std::vector<std::string> candidates = {"first", "second", "third", "fourth"};
    auto seen = [&](std::function<void(ZMIndexWriter::Session&)> also = nullptr) {
        std::set<std::string> out;
        ZMIndexWriter::Job job;
        job.run = [&](ZMIndexWriter::Session& session) {
            if (also) also(session);
            for (const auto& id : candidates)
                if (session.mayHavePackage(id)) out.insert(id);
        };
        EXPECT_FALSE(writer.perform(std::move(job)));
        return out;
    };
    EXPECT_EQ(seen(), (std::set<std::string>{"first"}));
    // A job reports what it adds and deletes, for the jobs after it.
    EXPECT_EQ(seen([&](ZMIndexWriter::Session& s) {
                  addPackage(s.realm(), "second");
                  s.packageAdded("second");
              }),
              (std::set<std::string>{"first"}));
    EXPECT_EQ(seen(), (std::set<std::string>{"first", "second"}));
    // Another writer in between: read again.
    realm->transactionWithBlock([&] {
        realm->deleteObjects(realm->objectsWhere<ZMRPackage>("identifier = %@", "first"));
        addPackage(*realm, "third");
    });
    EXPECT_EQ(seen(), (std::set<std::string>{"second", "third"}));
    // A rolled-back job's reports are dropped with its writes.
    ZMIndexWriter::Job failing;
    failing.cannotFailHalfway = [] { return false; };
    failing.run = [&](ZMIndexWriter::Session& s) {
        s.mayHavePackage("second");
        addPackage(s.realm(), "fourth");
        s.packageAdded("fourth");
        throw ZMIndexFailure{ZMError::make(ZMError::Unknown, "no")};
    };
    EXPECT_TRUE(writer.perform(std::move(failing)));
    EXPECT_EQ(seen(), (std::set<std::string>{"second", "third"}));
    // A deletion reported by a job.
    EXPECT_EQ(seen([&](ZMIndexWriter::Session& s) {
                  s.realm().deleteObjects(s.realm().objectsWhere<ZMRPackage>("identifier = %@", "third"));
                  s.packageDeleted("third");
              }),
              (std::set<std::string>{"second"}));
    // Forgotten once refreshes are over, and read again when needed.
    writer.forgetIdentifiers();
    EXPECT_EQ(seen(), (std::set<std::string>{"second"}));
}

// A refresh ends only once its records are committed, and a user's action
// that writes waits for the writer: while tasks wait for a place in the
// pipeline, or another writer waits, the writer commits after every few jobs;
// otherwise the jobs share one commit (each commit writes the index pages it
// touched again).
TEST_F(IndexWriter, JobsShareACommitUnlessSomeoneWaitsForThem) {
    auto& pipeline = ZMPipelineManager::sharedManager();
    enum class Waiting { Nobody, Tasks, AWriter };
    for (const Waiting waiting : {Waiting::Nobody, Waiting::Tasks, Waiting::AWriter}) {
        const std::string tag = std::to_string(static_cast<int>(waiting));
        std::promise<void> open;
        auto gate = open.get_future().share();
        if (waiting == Waiting::Tasks) {
            // One more than the pipeline runs at once.
            for (int i = 0; i < 16; ++i)
                pipeline.queueTask(ZMFunctionTask::make("blocker." + std::to_string(i), ZMPipelineCacheOps, "blocker",
                                                        [gate](ZMFunctionTask&) {
                                                            gate.wait();
                                                            return std::optional<ZMError>();
                                                        }));
            for (int i = 0; i < 500 && pipeline.activeTaskCount() < 15; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ASSERT_EQ(pipeline.waitingTaskCount(), 1u);
        }
        auto realm = Realm::defaultRealm();
        // The other writer comes while the first job is being written.
        std::promise<void> firstJob;
        auto firstJobStarted = firstJob.get_future();
        std::once_flag once;
        std::function<void()> started;
        std::thread writer;
        std::atomic<bool> written{false};
        if (waiting == Waiting::AWriter) {
            started = [&] { std::call_once(once, [&] { firstJob.set_value(); }); };
            writer = std::thread([&] {
                firstJobStarted.wait();
                realm->transactionWithBlock([&] { addSource(*realm, "http://user-" + tag + ".example/"); });
                written = true;
            });
        }
        const uint64_t before = realm->commitCount();
        std::vector<JobSpec> specs;
        for (int i = 0; i < 3; ++i) specs.push_back({"http://s" + std::to_string(i) + "-" + tag + ".example/"});
        // Each job takes longer than a transaction may last while someone waits.
        auto outcomes = runTogether(specs, std::chrono::milliseconds(100), started);
        for (const auto& outcome : outcomes) EXPECT_FALSE(outcome) << outcome->detail;
        if (writer.joinable()) writer.join();
        const uint64_t commits = realm->commitCount() - before;
        switch (waiting) {
            case Waiting::Nobody: EXPECT_EQ(commits, 1u); break;
            case Waiting::Tasks: EXPECT_GE(commits, 3u); break;
            case Waiting::AWriter:
                EXPECT_TRUE(written);
                EXPECT_GE(commits, 3u) << "the writer's own and the jobs' in two or more";
                break;
        }
        open.set_value();
        for (int i = 0; i < 500 && pipeline.liveTaskCount() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TEST_F(IndexWriter, TheLogIsCopiedBackAndEmptied) {
    auto realm = Realm::defaultRealm();
    realm->transactionWithBlock([&] {
        for (int i = 0; i < 3000; ++i) {
            ZMRPackage p;
            p.identifier = "pkg-" + std::to_string(i);
            p.Description = std::string(1000, static_cast<char>('a' + i % 26));
            realm->add(p);
        }
    });
    ASSERT_GT(realm->fileSizes().log, 3'000'000u);
    ASSERT_TRUE(realm->checkpointAndTruncate());
    EXPECT_EQ(realm->fileSizes().log, 0u);
    EXPECT_GT(realm->fileSizes().database, 3'000'000u);
    EXPECT_EQ(ZMRPackage::objectsWhere("").count(), 3000u);
    EXPECT_THROW(realm->transactionWithBlock([&] { realm->checkpointAndTruncate(); }), RealmException);
}

}  // namespace
