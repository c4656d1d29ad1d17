#include "UIKit/UIActivityViewController.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QStandardPaths>

#include "Miscellaneous/ZMLocalization.h"

namespace {
std::function<QString(const QString&)> gChooser;

QString localized(const char* s) { return QString::fromStdString(ZMLocalizedString(s)); }
}  // namespace

void UIActivityViewController::setSavePathChooser(std::function<QString(const QString&)> chooser) {
    gChooser = std::move(chooser);
}

UIActivityViewController::UIActivityViewController(std::vector<Item> items, const QString& title, QWidget* parent)
    : UIAlertController(title, {}, Style::ActionSheet, parent), items_(std::move(items)) {
    QStringList links;
    std::vector<QImage> images;
    for (const auto& item : items_) {
        if (auto* u = std::get_if<QUrl>(&item)) links << u->toString();
        if (auto* i = std::get_if<QImage>(&item)) images.push_back(*i);
    }
    const QString text = combinedText();
    if (!text.isEmpty()) {
        addAction(localized("Copy"), ActionStyle::Default, [text] { QGuiApplication::clipboard()->setText(text); });
    }
    if (!links.isEmpty()) {
        addAction(localized("Copy Link"), ActionStyle::Default, [links] { QGuiApplication::clipboard()->setText(links.join('\n')); });
    }
    if (!images.empty()) {
        addAction(localized("Save Image"), ActionStyle::Default, [images] {
            for (size_t n = 0; n < images.size(); ++n) {
                const QString suggested = QStringLiteral("Vostrelle-%1.png").arg(n + 1);
                QString path;
                if (gChooser) {
                    path = gChooser(suggested);
                } else {
                    const QString dir = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
                    path = QFileDialog::getSaveFileName(nullptr, localized("Save Image"), dir + "/" + suggested, "PNG (*.png)");
                }
                if (!path.isEmpty()) images[n].save(path, "PNG");
            }
        });
    }
    addAction(localized("Cancel"), ActionStyle::Cancel);
}

QString UIActivityViewController::combinedText() const {
    QStringList lines;
    for (const auto& item : items_) {
        if (auto* s = std::get_if<QString>(&item)) lines << *s;
        if (auto* u = std::get_if<QUrl>(&item)) lines << u->toString();
    }
    return lines.join('\n');
}
