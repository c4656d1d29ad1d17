// The text view: a long text is laid out in steps that the view follows,
// never whole at once; documents built in the background show in the order
// their texts were set, and not at all in a view that is gone, whose build
// is told to stop.
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPointer>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextCursor>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QThread>
#include <QVBoxLayout>
#include <atomic>
#include <chrono>
#include <thread>

#include "Dispatch/SerialQueue.h"

#include "Support/Gui/GuiTestSupport.h"
#include "Support/Gui/UserGestures.h"
#include "UIKit/UITextView.h"
#include "UIKit/UIViewController.h"

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

// Everything queued on `queue` so far has run and been let go: a serial
// queue starts a block only once the one before it has ended. A build that
// was told to stop still finishes its document on the worker; what it uses
// must outlive that.
bool drained(const std::shared_ptr<Dispatch::SerialQueue>& queue) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    queue->async([done] { *done = true; });
    return GuiTest::waitUntil([&] { return done->load(); }, std::chrono::seconds(30));
}

// Builds run one at a time on one queue, as the page's do: a build told that
// its text was superseded stops, and the next one runs.
TEST(UITextView, TheLatestTextWinsAndABuildWhoseViewWentStops) {
    std::atomic<int> alive{0};
    std::atomic<bool> builtOnGuiThread{false};
    std::atomic<int> started{0}, stopped{0};
    QThread* gui = QThread::currentThread();
    const auto queue = Dispatch::SerialQueue::create("text views");
    // However the test ends, its builds end before the counters they use go.
    const auto finish = qScopeGuard([&] { drained(queue); });
    // A build that goes on until it is told it is superseded, then makes its
    // document all the same (which must be dropped).
    auto buildUntilSuperseded = [&](QString text) {
        return [&, text](const std::function<bool()>& superseded) -> std::unique_ptr<QTextDocument> {
            if (QThread::currentThread() == gui) builtOnGuiThread = true;
            ++started;
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!superseded() && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (superseded()) ++stopped;
            return std::make_unique<CountedDocument>(text, alive);
        };
    };
    auto shows = [](UITextView* view, const char* text) { return view->document()->toPlainText() == text; };
    struct Case {
        const char* name;
        bool laterInBackground;  // the later text is built too (behind the older one), else set directly
    };
    for (const Case c : {Case{"a later build", true}, Case{"a later text set directly", false}}) {
        SCOPED_TRACE(c.name);
        Window w;
        started = stopped = 0;
        w.view->setAttributedTextInBackground(buildUntilSuperseded("older"), queue);
        EXPECT_TRUE(w.view->isBuildingText());
        ASSERT_TRUE(GuiTest::waitUntil([&] { return started == 1; }));
        if (c.laterInBackground)
            w.view->setAttributedTextInBackground(
                [&](const std::function<bool()>&) { return std::make_unique<CountedDocument>("newer", alive); }, queue);
        else
            w.view->setAttributedText(new CountedDocument("newer", alive));
        ASSERT_TRUE(GuiTest::waitUntil([&] { return shows(w.view, "newer"); }));
        ASSERT_TRUE(drained(queue));
        EXPECT_EQ(stopped, 1);
        EXPECT_FALSE(w.view->isBuildingText());
        EXPECT_EQ(w.view->document()->thread(), gui);
        // The older one is dropped, and freed.
        EXPECT_EQ(alive, 1);
        GuiTest::pump();
        EXPECT_TRUE(shows(w.view, "newer"));
    }
    EXPECT_TRUE(GuiTest::waitUntil([&] { return alive == 0; }));

    // A view closed while its text is built: the build is told, and its document goes.
    auto w = std::make_unique<Window>();
    started = stopped = 0;
    w->view->setAttributedTextInBackground(buildUntilSuperseded("late"), queue);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return started == 1; }));
    w.reset();
    ASSERT_TRUE(drained(queue));
    EXPECT_EQ(stopped, 1);
    EXPECT_EQ(alive, 0);
    EXPECT_FALSE(builtOnGuiThread);
}

// A text its builder says lays out cheaply is whole at once, however long:
// the page never sees it grow. One whose cost is not known is laid out in
// steps past a few pages (above).
TEST(UITextView, ATextThatLaysOutCheaplyHasItsWholeHeightAtOnce) {
    Window w;
    for (const bool cheap : {true, false}) {
        SCOPED_TRACE(cheap ? "cheap" : "costly");
        QTextDocument* doc = longDocument(30'000);
        doc->setProperty(UITextView::kLayoutCostProperty, QVariant::fromValue<qint64>(cheap ? 1'000'000 : 900'000'000));
        w.view->setAttributedText(doc);
        EXPECT_EQ(laidOut(doc->lastBlock()), cheap);
    }
}

// A click on the link to a cut text's whole asks for it, and reports no link;
// a click on any other link reports the link. The whole text is the document's.
TEST(UITextView, TheWholeTextLinkAsksForTheWholeText) {
    Window w;
    auto* doc = new QTextDocument;
    doc->setHtml(QStringLiteral("<p><a href=\"https://example.com/\">a link</a></p><p>the rest: <a href=\"%1\">Show the whole text</a></p>")
                     .arg(UITextView::wholeTextLink().toString()));
    doc->setProperty(UITextView::kWholeTextProperty, QStringLiteral("every word"));
    w.view->setAttributedText(doc);
    GuiTest::pump();
    QSignalSpy links(w.view, &UITextView::linkActivated), whole(w.view, &UITextView::wholeTextRequested);
    auto clickAt = [&](const QString& text) {
        QTextCursor at = doc->find(text);
        at.setPosition(at.selectionStart() + 2);
        QTest::mouseClick(w.view->viewport(), Qt::LeftButton, {}, w.view->cursorRect(at).center());
        GuiTest::pump();
    };
    clickAt("Show the whole text");
    EXPECT_EQ(whole.count(), 1);
    EXPECT_EQ(links.count(), 0);
    clickAt("a link");
    EXPECT_EQ(whole.count(), 1);
    ASSERT_EQ(links.count(), 1);
    EXPECT_EQ(links.front().front().toUrl(), QUrl("https://example.com/"));
    EXPECT_EQ(w.view->wholeText(), "every word");
}

// A screen whose scroll area holds a text view as tall as a long text gives
// the keys to the scroll area, not to the text view (which never scrolls),
// and the page's keys scroll it even after a click in the text.
TEST(UITextView, TheKeysThatMoveAPageGoToItsScrollArea) {
    UIViewController screen;
    auto* column = new QVBoxLayout(&screen);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    column->addWidget(scroll);
    auto* content = new QWidget;
    auto* inside = new QVBoxLayout(content);
    auto* view = new UITextView;
    inside->addWidget(view);
    scroll->setWidget(content);
    screen.resize(400, 600);
    screen.show();
    ASSERT_TRUE(UserGesture::bringToFront(&screen));
    QTextDocument* doc = longDocument(2'000);
    doc->setProperty(UITextView::kLayoutCostProperty, QVariant::fromValue<qint64>(0));  // whole at once
    view->setAttributedText(doc);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return scroll->verticalScrollBar()->maximum() > 2 * scroll->height(); }));
    if (QWidget* focus = QApplication::focusWidget()) focus->clearFocus();  // as when the screen comes in front
    screen.takeKeyboardFocus();
    EXPECT_EQ(QApplication::focusWidget(), scroll);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    for (Qt::Key key : {Qt::Key_PageDown, Qt::Key_Down, Qt::Key_PageDown}) {
        const int before = scroll->verticalScrollBar()->value();
        QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_GT(scroll->verticalScrollBar()->value(), before) << QKeySequence(key).toString().toStdString();
    }
}

}  // namespace
