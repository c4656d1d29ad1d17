#pragma once
// The text view of the review and reply sheets: at most maximumLength()
// UTF-16 units. An edit that would make the text longer (a key, a paste, a
// drop, an input method's text) is refused whole; one that replaces a
// selection by text of the same length is accepted. The hint shown while it
// is empty is the view's own placeholder, so its text is never the hint.
#include <QPlainTextEdit>

class ReviewTextView : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit ReviewTextView(int maximumLength, QWidget* parent = nullptr);
    int maximumLength() const { return maximumLength_; }
    // Whether replacing the selection by `inserted` keeps within the limit.
    bool acceptsReplacement(const QString& inserted) const;
    int refusedEditCount() const { return refused_; }

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    bool refuse(const QString& inserted);
    int maximumLength_;
    int refused_ = 0;
};
