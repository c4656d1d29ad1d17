#pragma once
// The share sheet: an action sheet over the shared items offering to copy
// the text (and links) to the clipboard, copy just the link, or save images
// to files. Present it like any screen.
#include <QImage>
#include <QUrl>
#include <functional>
#include <variant>
#include <vector>

#include "UIKit/UIAlertController.h"

class UIActivityViewController : public UIAlertController {
    Q_OBJECT
public:
    using Item = std::variant<QString, QUrl, QImage>;
    UIActivityViewController(std::vector<Item> items, const QString& title = {}, QWidget* parent = nullptr);

    // The text that "Copy" puts on the clipboard: texts and links, one per line.
    QString combinedText() const;
    // Where "Save Image" writes: asks the user by default; tests replace it.
    static void setSavePathChooser(std::function<QString(const QString& suggestedName)> chooser);

private:
    std::vector<Item> items_;
};
