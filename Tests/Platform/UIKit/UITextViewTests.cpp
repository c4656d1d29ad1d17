// The text view: a long text is laid out in steps that the view follows,
// never whole at once; documents built in the background show in the order
// their texts were set, and not at all in a view that is gone.
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QPointer>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QThread>
#include <QVBoxLayout>
#include <atomic>
#include <future>

#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/UITextView.h"

namespace {

bool laidOut(const QTextBlock& block) { return block.layout() && block.layout()->lineCount() > 0; }

QTextDocument* longDocument(int lines) {
    QString text;
    for (int i = 0; i < lines; ++i) text += QStringLiteral("line %1 of a long text that wraps in a narrow view\n").arg(i);
    auto* doc = new QTextDocument;
    doc->setPlainText(text);
    return doc;
}

struct Window {
    QWidget widget;
    UITextView* view = new UITextView;
    Window() {
        auto* column = new QVBoxLayout(&widget);
        column->addWidget(view);
        column->addStretch(1);
        widget.resize(400, 600);
        widget.show();
        GuiTest::pump();
    }
};

// Setting the text, asking the size the page lays out with and a new width
// leave the end of a long text for later steps; the view grows to the whole
// text by itself.
TEST(UITextView, ALongTextIsLaidOutInStepsThatTheViewFollows) {
    Window w;
    QTextDocument* doc = longDocument(30'000);
    w.view->setAttributedText(doc);
    EXPECT_FALSE(laidOut(doc->lastBlock())) << "set";
    w.view->sizeHint();
    w.view->minimumSizeHint();
    EXPECT_FALSE(laidOut(doc->lastBlock())) << "size hint";
    w.widget.resize(300, 600);
    GuiTest::pump(std::chrono::milliseconds(5));
    EXPECT_FALSE(laidOut(doc->lastBlock())) << "new width";
    const int early = w.view->height();

    ASSERT_TRUE(GuiTest::waitUntil([&] { return laidOut(doc->lastBlock()); }, std::chrono::seconds(30)));
    GuiTest::pump();
    const int whole = static_cast<int>(std::ceil(doc->documentLayout()->documentSize().height()));
    EXPECT_LT(early, whole);
    EXPECT_EQ(w.view->height(), whole);
    EXPECT_EQ(w.view->sizeHint().height(), whole);
    EXPECT_EQ(doc->pageSize().width(), w.view->viewport()->width());
}

// A short text (more than the layout's first step) has its whole height at
// once, and keeps it through a new width: the page never sees it grow.
TEST(UITextView, AShortTextHasItsWholeHeightAtOnce) {
    QWidget page;  // no layout: a new width reaches the view at once
    auto* view = new UITextView(&page);
    view->setGeometry(0, 0, 400, 1);
    page.resize(420, 600);
    page.show();
    GuiTest::pump();
    QTextDocument* doc = longDocument(400);
    view->setAttributedText(doc);
    // Read before the whole size is asked for, which lays everything out.
    auto whole = [&] { return static_cast<int>(std::ceil(doc->documentLayout()->documentSize().height())); };
    int shown = view->height();
    EXPECT_EQ(shown, whole());
    for (int width : {250, 420}) {
        view->resize(width, view->height());
        EXPECT_EQ(doc->pageSize().width(), view->viewport()->width());
        shown = view->height();
        EXPECT_EQ(shown, whole()) << width;
    }
}

// A document that counts itself, to see it go.
class CountedDocument : public QTextDocument {
public:
    explicit CountedDocument(const QString& text, std::atomic<int>& alive) : alive_(alive) {
        setPlainText(text);
        ++alive_;
    }
    ~CountedDocument() override { --alive_; }

private:
    std::atomic<int>& alive_;
};

TEST(UITextView, TheLatestTextWinsAndAViewThatIsGoneGetsNone) {
    std::atomic<int> alive{0};
    std::atomic<bool> builtOnGuiThread{false};
    std::atomic<int> started{0}, held{0};  // held builds begun, and ended
    QThread* gui = QThread::currentThread();
    // A build that waits for `release` before it makes its document.
    auto heldBuild = [&](std::shared_future<void> release, QString text) {
        return [&, release, text]() -> std::unique_ptr<QTextDocument> {
            if (QThread::currentThread() == gui) builtOnGuiThread = true;
            ++started;
            release.wait();
            auto doc = std::make_unique<CountedDocument>(text, alive);
            ++held;
            return doc;
        };
    };
    auto shows = [](UITextView* view, const char* text) { return view->document()->toPlainText() == text; };
    struct Case {
        const char* name;
        bool laterInBackground;  // the later text is built too, else set directly
    };
    for (const Case c : {Case{"a later build", true}, Case{"a later text set directly", false}}) {
        SCOPED_TRACE(c.name);
        Window w;
        std::promise<void> release;
        started = 0;
        w.view->setAttributedTextInBackground(heldBuild(release.get_future().share(), "older"));
        EXPECT_TRUE(w.view->isBuildingText());
        ASSERT_TRUE(GuiTest::waitUntil([&] { return started == 1; }));
        if (c.laterInBackground)
            w.view->setAttributedTextInBackground([&] { return std::make_unique<CountedDocument>("newer", alive); });
        else
            w.view->setAttributedText(new CountedDocument("newer", alive));
        ASSERT_TRUE(GuiTest::waitUntil([&] { return shows(w.view, "newer"); }));
        EXPECT_FALSE(w.view->isBuildingText());
        EXPECT_EQ(w.view->document()->thread(), gui);
        // The older one is built at last: it is dropped, and freed.
        held = 0;
        release.set_value();
        EXPECT_TRUE(GuiTest::waitUntil([&] { return held == 1 && alive == 1; }));
        GuiTest::pump();
        EXPECT_TRUE(shows(w.view, "newer"));
    }
    EXPECT_TRUE(GuiTest::waitUntil([&] { return alive == 0; }));

    // A view closed while its text is built.
    std::promise<void> release;
    auto w = std::make_unique<Window>();
    started = 0;
    w->view->setAttributedTextInBackground(heldBuild(release.get_future().share(), "late"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return started == 1; }));
    w.reset();
    held = 0;
    release.set_value();
    EXPECT_TRUE(GuiTest::waitUntil([&] { return held == 1 && alive == 0; }));
    EXPECT_FALSE(builtOnGuiThread);
}

}  // namespace
