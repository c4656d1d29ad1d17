#pragma once
// A read-only text view for rich text that is as tall as its text, however
// the text was set (the page around it scrolls, not the view), loads no
// resource of any kind (images, style sheets) and follows no link itself: a
// click on a link is reported with linkActivated() for the screen to decide.
//
// A long text never holds the GUI thread. Its document may be built on a
// background queue (setAttributedTextInBackground); the view then lays it
// out in Qt's small steps (a timer of the document's layout) and grows with
// each one, never asking for the whole size at once. A short text is laid
// out whole when it is set and when the width changes, as it takes no time.
// The latest text set wins: a build is told when another text was set or
// its view went (and should stop there), and its document is then dropped.
//
// A builder may tell the view what the document's layout will cost
// (kLayoutCostProperty, CPU nanoseconds): a text that costs little is laid
// out whole at once, whatever its length. A document that shows only part of
// a text may hold the whole of it (kWholeTextProperty) and link to it
// (wholeTextLink()): a click on that link asks for the whole text
// (wholeTextRequested) instead of being reported as a link.
//
// The view never scrolls: the page's scroll area does. So a screen does not
// give it the keyboard (it is no Tab stop), and the keys that move a page
// (arrows, Page Up/Down, Home, End) go on to the page even after a click in
// the text; the text is still selected and copied with the mouse and Ctrl+C.
#include <QTextBrowser>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>

namespace Dispatch {
class SerialQueue;
}

class UITextView : public QTextBrowser {
    Q_OBJECT
public:
    // Builds a document; `superseded` answers (from any thread, cheaply)
    // whether the view has no use for it any more.
    using DocumentBuilder = std::function<std::unique_ptr<QTextDocument>(const std::function<bool()>& superseded)>;

    static constexpr const char* kLayoutCostProperty = "layoutCost";
    static constexpr const char* kWholeTextProperty = "wholeText";
    static QUrl wholeTextLink();

    explicit UITextView(QWidget* parent = nullptr);
    ~UITextView() override;
    // Shows `document` (the view takes it over; nullptr shows nothing).
    void setAttributedText(QTextDocument* document);
    // Runs `build` on `queue` and shows its document once built
    // (attributedTextShown), unless another text was set meanwhile.
    void setAttributedTextInBackground(DocumentBuilder build, const std::shared_ptr<Dispatch::SerialQueue>& queue);
    // A text set with setAttributedTextInBackground is still being built.
    bool isBuildingText() const { return building_; }
    // The whole text is laid out (read without laying anything out).
    bool isLaidOut() const;
    // The whole of a text the view shows part of; empty when it shows all.
    QString wholeText() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    QVariant loadResource(int type, const QUrl& name) override;

signals:
    void linkActivated(const QUrl& url);
    void wholeTextRequested();
    void attributedTextShown();

protected:
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    // Laid out in one go when the text is set or the width changes: a text
    // whose layout costs less than this, or, when its cost is not known, one
    // of fewer characters.
    static constexpr qint64 kCostLaidOutAtOnce = 20'000'000;
    static constexpr int kLaidOutAtOnce = 32 * 1024;
    void followDocumentSize(QTextDocument* doc);
    void layOutShortTextAtOnce();
    void fitHeight(const QSizeF& documentSize);

    QMetaObject::Connection sizeConnection_;
    int documentHeight_ = 0;  // as far as the layout has come
    // The number of the latest text set, shared with the builds under way.
    std::shared_ptr<std::atomic<uint64_t>> latest_ = std::make_shared<std::atomic<uint64_t>>(0);
    bool building_ = false;
    // The queue its latest text was built on.
    std::weak_ptr<Dispatch::SerialQueue> builtOn_;
};
