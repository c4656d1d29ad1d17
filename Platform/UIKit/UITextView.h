#pragma once
// A read-only text view for rich text that is as tall as its text, however
// the text was set (the page around it scrolls, not the view), loads no
// resource of any kind (images, style sheets) and follows no link itself: a
// click on a link is reported with linkActivated() for the screen to decide.
#include <QTextBrowser>
#include <QUrl>

class UITextView : public QTextBrowser {
    Q_OBJECT
public:
    explicit UITextView(QWidget* parent = nullptr);
    // Shows `document` (the view takes it over; nullptr shows nothing).
    void setAttributedText(QTextDocument* document);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    QVariant loadResource(int type, const QUrl& name) override;

signals:
    void linkActivated(const QUrl& url);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void followDocumentSize(QTextDocument* doc);
    void fitHeight();
};
