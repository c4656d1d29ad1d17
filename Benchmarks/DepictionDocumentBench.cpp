// A package page's whole text-to-document step, per call: a description
// through DetailsTextDocument::fromMarkdown (render, HTML import, layout
// checks, the links' pass, the plain-text fallback) or an index's text
// through DetailsTextDocument::fromPlainText, as the page runs them off the
// window's thread. Offscreen.
//
// Each case is one shape built to one size (4 MiB, and smaller rows for the
// shapes that once took minutes at 4 MiB, to compare with). Reported:
// the time per call and the characters of the document made (`chars`), and
// whether the text was shown plain. A case whose document is empty fails:
// it measured nothing, or the text lost every word.
//
// Benchmarks/hostile-depictions.sh runs each case in a process of its own
// for its peak memory, and caps each one's time.
#include <benchmark/benchmark.h>

#include <QFont>
#include <QGuiApplication>
#include <QTextDocument>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "Depictions/ZMNativeDepiction.h"
#include "Details/DetailsTextDocument.h"
#include "HostileTexts.h"

namespace {

constexpr size_t KB = 1024, MiB = 1024 * 1024;

// The longest description among the real depictions of the test data.
std::string realDescription() {
    std::string longest;
    const auto directory = std::filesystem::path(__FILE__).parent_path().parent_path() / "Tests/Data/Depictions";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        if (entry.path().extension() != ".json") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string body{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::string description = ZMNativeDepiction::parse(body).description.value_or("");
        if (description.size() > longest.size()) longest = std::move(description);
    }
    return longest;
}

// A byte-order mark, a run of quotes that takes the Markdown parse past its
// budget, then UTF-8 continuation bytes: the text reaches the plain-text
// fallback unchecked as UTF-8.
std::string markQuotesAndContinuationBytes(size_t bytes) {
    std::string text = "\xEF\xBB\xBF" + std::string(bytes / 2, '"');
    return text + std::string(bytes - text.size(), '\x80');
}

struct Case {
    const char* name;   // of the benchmark: BM_Document/<name>
    const char* label;  // what the text is
    size_t bytes;  // at most; 0: the shape's own size
    bool plain;  // fromPlainText (an index's text) rather than fromMarkdown
    std::function<std::string(size_t bytes)> make;
};

const std::vector<Case>& cases() {
    using HostileTexts::addressParagraphs;
    using HostileTexts::repeatedTo;
    static const auto addresses = [](size_t n) { return addressParagraphs(n, "http://a.b/x"); };
    // Written otherwise than the URL class prints it (":1").
    static const auto reprinted = [](size_t n) { return addressParagraphs(n, "http://a.b:01"); };
    static const auto markdown = [](size_t n) {
        return repeatedTo(n, "", "Plain words of a description, *some* in a [link](https://example.org/).\n\n");
    };
    static const auto continuation = [](size_t n) { return std::string(n, '\x80'); };
    static const std::vector<Case> all = {
        {"plain-markdown/4MiB", "plain Markdown", 4 * MiB, false, markdown},
        {"plain-markdown/280KB", "plain Markdown", 280 * KB, false, markdown},
        {"real-depiction", "the longest real description", 0, false, [](size_t) { return realDescription(); }},
        {"addresses/4MiB", "paragraphs of 2,000 addresses", 4 * MiB, false, addresses},
        {"addresses/1MiB", "paragraphs of 2,000 addresses", 1 * MiB, false, addresses},
        {"addresses/280KB", "paragraphs of 2,000 addresses", 280 * KB, false, addresses},
        {"addresses-reprinted/4MiB", "addresses printed otherwise (:01)", 4 * MiB, false, reprinted},
        {"addresses-reprinted/1MiB", "addresses printed otherwise (:01)", 1 * MiB, false, reprinted},
        {"addresses-reprinted/280KB", "addresses printed otherwise (:01)", 280 * KB, false, reprinted},
        {"pre-lines/4MiB", "<pre> then x\\n lines", 4 * MiB, false, [](size_t n) { return repeatedTo(n, "<pre>", "x\n"); }},
        {"html-pre-cr/4MiB", "<style></style><pre> then a\\r lines", 4 * MiB, false,
         [](size_t n) { return repeatedTo(n, "<style></style><pre>", "a\r"); }},
        {"continuation-bytes/4MiB", "a line of \\x80 bytes, plain", 4 * MiB, true, continuation},
        {"continuation-bytes/1MiB", "a line of \\x80 bytes, plain", 1 * MiB, true, continuation},
        {"mark-quotes-continuation/600KB", "a byte-order mark, a run of quotes, then \\x80 bytes", 600 * KB, false,
         markQuotesAndContinuationBytes},
        {"unclosed-script/240KB", "<script>\\nx\\n\\n then *a x 120,000", 0, false,
         [](size_t) { return repeatedTo(12 + 240'000, "<script>\nx\n\n", "*a"); }},
    };
    return all;
}

std::string sizeOf(size_t bytes) {
    if (bytes >= MiB) return std::to_string(bytes / MiB) + " MiB";
    return bytes >= KB ? std::to_string(bytes / KB) + " KB" : std::to_string(bytes) + " bytes";
}

void BM_Document(benchmark::State& state, const Case& c) {
    const std::string text = c.make(c.bytes);
    if (text.empty()) {
        state.SkipWithError("no text to read (the real depiction is missing)");
        return;
    }
    const QFont font;
    std::unique_ptr<QTextDocument> shown;
    std::string plainBecause;
    double lastMs = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::unique_ptr<QTextDocument> doc;
        if (c.plain) {
            doc = DetailsTextDocument::fromPlainText(text, font).document;
        } else {
            DetailsTextDocument::Built built = DetailsTextDocument::fromMarkdown(text, false, false);
            doc = std::move(built.document);
            plainBecause = std::move(built.plainBecause);
        }
        lastMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        state.PauseTiming();
        shown = std::move(doc);  // the previous call's document goes outside the time
        state.ResumeTiming();
        if (!shown || shown->isEmpty()) {
            state.SkipWithError(("the document is empty: 0 characters shown of a " + sizeOf(text.size()) + " text (after " +
                                 std::to_string(static_cast<long>(lastMs)) + " ms)")
                                    .c_str());
            break;
        }
    }
    if (!shown || shown->isEmpty()) return;
    state.counters["chars"] = shown->characterCount() - 1;
    const std::string size = sizeOf(c.bytes ? c.bytes : text.size());
    state.SetLabel(std::string(c.label) + " (" + size + ")" + (plainBecause.empty() ? "" : ", shown plain"));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);  // fonts, for the documents
    for (const Case& c : cases())
        benchmark::RegisterBenchmark((std::string("BM_Document/") + c.name).c_str(), BM_Document, c)->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
