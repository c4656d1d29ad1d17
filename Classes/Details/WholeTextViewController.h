#pragma once
// The whole of a text that its page shows cut (DetailsTextDocument): plain
// text in a read-only view that lays out only the lines on screen, so any
// length reads at once and scrolls. Presented over the page; Close (or Esc)
// goes back to it.
#include <QString>

#include "ZMPalettedViewController.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

class WholeTextViewController : public ZMPalettedViewController {
    Q_OBJECT
public:
    explicit WholeTextViewController(const QString& title, const QString& text, QWidget* parent = nullptr);

    QPlainTextEdit* textView() const { return textView_; }
    QPushButton* closeButton() const { return closeBtn_; }

    void viewDidLoad() override;
    void paletteDidChange(const ZMPalette& palette) override;

private:
    QString title_, text_;
    QLabel* titleLbl_ = nullptr;
    QPushButton* closeBtn_ = nullptr;
    QPlainTextEdit* textView_ = nullptr;
};
