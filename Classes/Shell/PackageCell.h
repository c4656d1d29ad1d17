#pragma once
// The package row of every list: icon, name, version, maintainer or source
// name, a description of at most three lines, the compatibility dot and the
// installed/queued image. Layout: Resources/PackageCell.ui.
//
// Lists keep identifiers and hand the cell a fresh record for every row they
// draw (updateWithPackage). The cell then follows its package by itself: the
// per-package queue notification ("UpdateQueueStateNotification-" + identifier)
// and the icon-changed notification redraw it on the main thread.
//
// Rules every list gets from here: 70 px rows; the name in the palette's
// primaryTextColor for a free package, paidTextColor otherwise; the version
// hidden by "HidePackageVersion"; the sub-line is the source's name under
// "ReplacePackageMaintainerWithSourceName" ("Unknown" without a source
// location), else the maintainer; the description hidden by
// "HidePackageDescription"; the compatibility dot hidden by
// "HidePackageTweakCompatibleIndicator"; icon corners 0.2237 x the icon's
// height; no separator under the last row of a section (hideSeparatorIfLast).
#include <QColor>
#include <QLabel>
#include <QPixmap>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Database/ZMRPackage.h"
#include "Notifications/NotificationCenter.h"
#include "UIKit/UITableView.h"
#include "UIKit/UITableViewCell.h"

namespace Ui {
class PackageCell;
}

// What both package rows share: the notification name, the icon, the name
// colour and the sub-line.
namespace PackageRow {
inline constexpr int kRowHeight = 70;
inline constexpr double kIconCornerRatio = 0.2237;
// "UpdateQueueStateNotification-" + identifier (ZMPackageOperations posts it).
std::string queueStateNotificationName(const std::string& identifier);

// The row's icon: the package's cached icon file when there is one, else the
// image of its category (the bundled default when that category has none),
// rounded to the row's corner radius. With `fetch`, a missing icon is fetched
// from the package's Icon address (ZMRPackages::iconForIdentifier), and the
// icon-changed notification redraws the row once it is stored; lists pass
// false while they scroll.
QPixmap iconForPackage(const std::string& identifier, int side, bool fetch = true);
// A bundled image by the collection's name ("Categories/Tweaks"), or a null pixmap.
QPixmap bundledImage(const std::string& imageName, int side);
bool hasBundledImage(const std::string& imageName);
QPixmap roundedIcon(const QPixmap& source, int side);

QColor nameColor(const ZMRPackage& package);
// Puts a text colour on a label; a style sheet, since the application's style
// sheet would paint over a palette colour.
void setTextColor(QLabel* label, const QColor& color);
// The source's name or the maintainer, by the preference.
std::string subinfoText(const ZMRPackage& package);
// "Jane Doe <jane@example.com>" shows as "Jane Doe".
std::string displayMaintainer(const std::string& maintainer);

// Compatibility status of a package (0 working, 1 not working, anything else
// no verdict). The default reads the record's tweakCompatibleStatus; the
// compatibility service installs its own.
using CompatibilityProvider = std::function<std::optional<int64_t>(const std::string& identifier, const std::string& version)>;
void setCompatibilityProvider(CompatibilityProvider provider);
std::optional<int64_t> compatibilityStatus(const std::string& identifier, const std::string& version);
// System green for 0, red for 1, yellow otherwise.
QColor colorForCompatibilityStatus(std::optional<int64_t> status);

// Hides the separator of the last row of its section.
void hideSeparatorIfLast(UITableViewCell* cell, UITableView* table, IndexPath indexPath);

// A row's two observations of the package it shows: its queue state and its
// icon, both on the main thread. A reused row may show another package by the
// time a notification arrives, so each call first asks the row what it shows.
class Observer {
public:
    void observe(const std::string& identifier, std::function<std::string()> showing, std::function<void()> redraw,
                 std::function<void()> iconChanged);
    int redrawCount() const { return redraws_; }

private:
    std::string identifier_;
    ObserverToken queue_;
    ObserverToken icon_;
    int redraws_ = 0;
};
}  // namespace PackageRow

// The round compatibility dot.
class CompatibilityDot : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    void setColor(const QColor& c) { color_ = c; update(); }
    QColor color() const { return color_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor color_;
};

// A label that wraps its text to at most maxLines() lines (as many as fit in
// its height), the last one elided.
class LinesLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    int maxLines() const { return maxLines_; }
    void setMaxLines(int n) { maxLines_ = n; update(); }
    // The lines drawn at the current size.
    QStringList visibleLines() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    int maxLines_ = 3;
};

class PackageCell : public UITableViewCell {
    Q_OBJECT
public:
    static inline const QString kReuseIdentifier = QStringLiteral("PackageCell");
    explicit PackageCell(const QString& reuseIdentifier = kReuseIdentifier, QWidget* parent = nullptr);
    ~PackageCell() override;

    // Fills the row from the record and follows its package from then on.
    void updateWithPackage(const ZMRPackage& package);
    // Installed and not queued: the "installed" image in system green; queued:
    // the image of the queued operation; otherwise none.
    void updateQueuingIconWithPackage(const ZMRPackage& package);
    void updateConpatibilityIndicatorWithPackageIdentifier(const std::string& identifier, const std::string& version);
    void updatePackageIcon();
    // Whether drawing the icon may start its download (not while a list scrolls).
    void setFetchesIcon(bool fetches) { fetchesIcon_ = fetches; }

    const std::string& packageIdentifier() const { return packageIdentifier_; }
    void setPackageIdentifier(const std::string& identifier);

    // Outlets.
    QLabel* iconView() const;
    QLabel* nameLbl() const;
    QLabel* versionLbl() const;
    QLabel* subinfoLbl() const;
    LinesLabel* descriptionLbl() const;
    QLabel* installOrQueueStatusImageView() const;
    CompatibilityDot* compatibilityView() const;
    // The gap between the description and the row's end (a list that puts
    // something there widens it).
    int descriptionLblTrailingConstraint() const;
    void setDescriptionLblTrailingConstraint(int points);
    // The queued operation whose image is shown (0: the installed image or none).
    int64_t shownQueueOperation() const { return shownOperation_; }
    // How many times the row redrew because of its package's notification.
    int notificationRedrawCount() const { return observer_.redrawCount(); }

    void prepareForReuse() override;

private:
    void redrawFromDatabase();
    std::unique_ptr<Ui::PackageCell> ui_;
    std::string packageIdentifier_;
    PackageRow::Observer observer_;
    int64_t shownOperation_ = 0;
    bool fetchesIcon_ = true;
};
