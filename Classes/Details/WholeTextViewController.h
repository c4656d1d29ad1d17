#pragma once
// The whole of a text that its page shows cut (DetailsTextDocument): plain
// text in a read-only view that lays out only the lines on screen, so any
// length opens at once and scrolls. A sheet over the page (sheet()), under a
// bar with the text's title and Close (also Esc and Ctrl+W).
#include <QString>

#include "ZMPalettedViewController.h"

class QPlainTextEdit;
class UINavigationController;

class WholeTextViewController : public ZMPalettedViewController {
    Q_OBJECT
public:
    explicit WholeTextViewController(const QString& title, const QString& text, QWidget* parent = nullptr);
    // The screen in the navigation controller a page presents.
    static UINavigationController* sheet(const QString& title, const QString& text);

    QPlainTextEdit* textView() const { return textView_; }

    void viewDidLoad() override;
    void paletteDidChange(const ZMPalette& palette) override;

private:
    void close();

    QString text_;
    QPlainTextEdit* textView_ = nullptr;
};
