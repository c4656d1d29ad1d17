#include "ZMPackageOperations.h"

#include "PackageCell.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QTextLayout>
#include <mutex>

#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMPaths.h"
#include "VostrellePersistentPreferences.h"
#include "ZMPaletteManager.h"
#include "ui_PackageCell.h"
#include "UIKit/UILabelElision.h"
#include "ZMSvgPixmap.h"
#include "ZMStoreGuard.h"

namespace PackageRow {

namespace {
std::mutex gProviderMutex;
CompatibilityProvider gProvider;

bool preference(const char* key) { return VostrellePersistentPreferences::sharedInstance().boolForKey(key); }

// Names come from package data: a name that could climb out of the image
// directory is never looked up.
bool safeImageName(const std::string& name) { return !name.empty() && name.find("..") == std::string::npos; }
}  // namespace

std::string queueStateNotificationName(const std::string& identifier) { return ZMQueueStateNotificationPrefix + identifier; }

bool hasBundledImage(const std::string& imageName) {
    if (!safeImageName(imageName)) return false;
    const QString name = QString::fromStdString(imageName);
    return QFile::exists(QStringLiteral(":/Images/%1.svg").arg(name)) ||
           QFile::exists(QString::fromStdString(ZMPaths::resourcesDirectory()) + "/Images/" + name + ".png");
}

QPixmap bundledImage(const std::string& imageName, int side) {
    if (!safeImageName(imageName)) return {};
    const QString name = QString::fromStdString(imageName);
    const QString svg = QStringLiteral(":/Images/%1.svg").arg(name);
    if (QFile::exists(svg)) return ZMSvgPixmap::pixmap(svg, side);
    const QString png = QString::fromStdString(ZMPaths::resourcesDirectory()) + "/Images/" + name + ".png";
    QPixmap pm;
    if (QFile::exists(png)) pm.load(png);
    return pm;
}

QPixmap roundedIcon(const QPixmap& source, int side) {
    QPixmap out(side, side);
    out.fill(Qt::transparent);
    if (source.isNull()) return out;
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    const double radius = kIconCornerRatio * side;
    clip.addRoundedRect(QRectF(0, 0, side, side), radius, radius);
    p.setClipPath(clip);
    p.drawPixmap(QRect(0, 0, side, side), source.scaled(side, side, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation));
    return out;
}

QPixmap iconForPackage(const std::string& identifier, int side, bool fetch) {
    auto& packages = ZMRPackageManager::sharedPackageManager().packages();
    // Rows are drawn again and again while lists scroll: decoded and rounded
    // icons are cached, keyed by the file and its modification time so that a
    // downloaded replacement shows at once.
    const auto path = ZMStoreGuard::value("drawing a package's icon", [&] { return packages.iconPath(identifier); })
                          .value_or(std::nullopt);
    if (path) {
        const QFileInfo file(QString::fromStdString(*path));
        if (file.exists()) {
            const QString key = QStringLiteral("pkgicon:%1:%2:%3")
                                    .arg(file.filePath())
                                    .arg(file.lastModified().toMSecsSinceEpoch())
                                    .arg(side);
            QPixmap cached;
            if (QPixmapCache::find(key, &cached)) return cached;
            // QImage: QPixmap's own file cache goes by whole seconds.
            const QPixmap source = QPixmap::fromImage(QImage(file.filePath()));
            if (!source.isNull()) {
                QPixmap rounded = roundedIcon(source, side);
                QPixmapCache::insert(key, rounded);
                return rounded;
            }
        }
    }
    std::string name = ZMStoreGuard::value("drawing a package's icon", [&] {
                           return fetch ? packages.iconForIdentifier(identifier).imageName
                                        : packages.getCategoryIconForIdentifier(identifier);
                       }).value_or(std::string());
    if (!hasBundledImage(name)) name = "Categories/Default";
    const QString key = QStringLiteral("caticon:%1:%2").arg(QString::fromStdString(name)).arg(side);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached)) return cached;
    QPixmap rounded = roundedIcon(bundledImage(name, side), side);
    QPixmapCache::insert(key, rounded);
    return rounded;
}

QColor nameColor(const ZMRPackage& package) {
    const ZMPalette palette = ZMPaletteManager::sharedManager().palette();
    return package.isFree() ? palette.primaryTextColor() : palette.paidTextColor();
}

void setTextColor(QLabel* label, const QColor& color) {
    if (!label) return;
    const QString sheet = QStringLiteral("color: %1;").arg(color.name(QColor::HexArgb));
    // A style sheet set again polishes the label again: rows redrawn with the
    // colour they have skip it.
    if (label->styleSheet() == sheet && label->palette().color(QPalette::WindowText) == color) return;
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
    label->setStyleSheet(sheet);
}

std::string displayMaintainer(const std::string& maintainer) {
    const auto lt = maintainer.find('<');
    if (lt == std::string::npos || lt == 0) return maintainer;
    std::string name = maintainer.substr(0, lt);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
    return name.empty() ? maintainer : name;
}

std::string subinfoText(const ZMRPackage& package) {
    if (preference(VostrellePreferenceKey::ReplacePackageMaintainerWithSourceName)) {
        if (package.sourceLocation.empty()) return ZMLocalizedString("Unknown");
        // A location no source record has (a package dpkg alone knows of) names nothing.
        auto source = ZMStoreGuard::record<ZMRSource>("reading a package's source", package.sourceLocation);
        return source ? source->name : std::string();
    }
    return displayMaintainer(package.maintainer);
}

void setCompatibilityProvider(CompatibilityProvider provider) {
    std::lock_guard lock(gProviderMutex);
    gProvider = std::move(provider);
}

std::optional<int64_t> compatibilityStatus(const std::string& identifier, const std::string& version) {
    CompatibilityProvider provider;
    {
        std::lock_guard lock(gProviderMutex);
        provider = gProvider;
    }
    if (provider) return provider(identifier, version);
    auto package = ZMStoreGuard::record<ZMRPackage>("reading a package", identifier);
    return package ? package->tweakCompatibleStatus : std::nullopt;
}

QColor colorForCompatibilityStatus(std::optional<int64_t> status) {
    if (status && *status == 0) return QColor(52, 199, 89);
    if (status && *status == 1) return QColor(255, 59, 48);
    return QColor(255, 204, 0);
}

void hideSeparatorIfLast(UITableViewCell* cell, UITableView* table, IndexPath indexPath) {
    if (!cell || !table) return;
    cell->setSeparatorHidden(indexPath.row == table->numberOfRows(indexPath.section) - 1);
}

}  // namespace PackageRow

// ---- small views ------------------------------------------------------------------------

void CompatibilityDot::paintEvent(QPaintEvent*) {
    if (!color_.isValid()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(color_);
    const int d = std::min(width(), height());
    p.drawEllipse(QRectF((width() - d) / 2.0, (height() - d) / 2.0, d, d));
}

QStringList LinesLabel::visibleLines() const {
    QStringList out;
    const QString text = this->text().simplified();
    if (text.isEmpty() || width() <= 0) return out;
    const QFontMetrics fm(font());
    const int fitting = std::max(1, std::min(maxLines_, height() / std::max(1, fm.lineSpacing())));
    QTextLayout layout(text, font());
    layout.beginLayout();
    int start = 0;
    for (int i = 0; i < fitting; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width());
        if (i == fitting - 1) {
            // The last line takes the rest, elided.
            out << fm.elidedText(text.mid(start), Qt::ElideRight, width());
            break;
        }
        out << text.mid(line.textStart(), line.textLength()).trimmed();
        start = line.textStart() + line.textLength();
    }
    layout.endLayout();
    return out;
}

QSize LinesLabel::sizeHint() const {
    const QFontMetrics fm(font());
    return {40, fm.lineSpacing()};
}

QSize LinesLabel::minimumSizeHint() const { return {0, QFontMetrics(font()).lineSpacing()}; }

void LinesLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(foregroundRole()));
    p.setFont(font());
    const int step = QFontMetrics(font()).lineSpacing();
    int y = 0;
    for (const QString& line : visibleLines()) {
        p.drawText(QRect(0, y, width(), step), Qt::AlignLeft | Qt::AlignVCenter, line);
        y += step;
    }
}

// ---- the cell ---------------------------------------------------------------------------

PackageCell::PackageCell(const QString& reuseIdentifier, QWidget* parent)
    : UITableViewCell(reuseIdentifier, parent), ui_(std::make_unique<Ui::PackageCell>()) {
    ui_->setupUi(contentView());
    setSeparatorInset(16 + 52 + 12);
    QFont bold = ui_->nameLbl->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.05);
    ui_->nameLbl->setFont(bold);
    QFont small = ui_->versionLbl->font();
    small.setPointSizeF(small.pointSizeF() * 0.88);
    for (QLabel* l : {ui_->versionLbl, ui_->subinfoLbl, static_cast<QLabel*>(ui_->descriptionLbl)}) {
        l->setFont(small);
        l->setForegroundRole(QPalette::PlaceholderText);
    }
    ui_->nameLbl->setTextFormat(Qt::PlainText);
    ui_->subinfoLbl->setTextFormat(Qt::PlainText);
    ui_->versionLbl->setTextFormat(Qt::PlainText);
    // Long names give way to the version and the indicators (clipped, never overlapping).
    // A name or version cut short ends with an ellipsis; hovering shows it whole.
    for (QLabel* l : {ui_->nameLbl, ui_->versionLbl, ui_->subinfoLbl}) UILabelElision::install(l);
    ui_->subinfoLbl->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ui_->descriptionLbl->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
    ui_->installOrQueueStatusImageView->hide();
}

PackageCell::~PackageCell() = default;

QLabel* PackageCell::iconView() const { return ui_->iconView; }
QLabel* PackageCell::nameLbl() const { return ui_->nameLbl; }
QLabel* PackageCell::versionLbl() const { return ui_->versionLbl; }
QLabel* PackageCell::subinfoLbl() const { return ui_->subinfoLbl; }
LinesLabel* PackageCell::descriptionLbl() const { return ui_->descriptionLbl; }
QLabel* PackageCell::installOrQueueStatusImageView() const { return ui_->installOrQueueStatusImageView; }
CompatibilityDot* PackageCell::compatibilityView() const { return ui_->compatibilityView; }

int PackageCell::descriptionLblTrailingConstraint() const { return ui_->descriptionLbl->contentsMargins().right(); }

void PackageCell::setDescriptionLblTrailingConstraint(int points) {
    ui_->descriptionLbl->setContentsMargins(0, 0, std::max(0, points), 0);
}

void PackageCell::setPackageIdentifier(const std::string& identifier) {
    packageIdentifier_ = identifier;
    observer_.observe(
        identifier, [this] { return packageIdentifier_; }, [this] { redrawFromDatabase(); }, [this] { updatePackageIcon(); });
}


void PackageCell::redrawFromDatabase() {
    auto package = ZMStoreGuard::record<ZMRPackage>("reading a package", packageIdentifier_);
    if (package) updateWithPackage(*package);
}

void PackageCell::updateWithPackage(const ZMRPackage& package) {
    namespace K = VostrellePreferenceKey;
    auto& prefs = VostrellePersistentPreferences::sharedInstance();
    setPackageIdentifier(package.identifier);

    ui_->nameLbl->setText(QString::fromStdString(package.name.empty() ? package.identifier : package.name));
    PackageRow::setTextColor(ui_->nameLbl, PackageRow::nameColor(package));

    // An installed package shows what the user has, not what a source offers.
    const std::string& version = package.isInstalled.value_or(false) && !package.installedVersion.empty()
                                     ? package.installedVersion
                                     : package.version;
    ui_->versionLbl->setText(QString::fromStdString(version));
    ui_->versionLbl->setVisible(!prefs.boolForKey(K::HidePackageVersion) && !version.empty());

    ui_->subinfoLbl->setText(QString::fromStdString(PackageRow::subinfoText(package)));

    ui_->descriptionLbl->setText(QString::fromStdString(package.Description));
    ui_->descriptionLbl->setVisible(!prefs.boolForKey(K::HidePackageDescription));

    updateConpatibilityIndicatorWithPackageIdentifier(package.identifier, package.version);
    updateQueuingIconWithPackage(package);
    updatePackageIcon();
}

void PackageCell::updateQueuingIconWithPackage(const ZMRPackage& package) {
    QLabel* view = ui_->installOrQueueStatusImageView;
    const bool queued = package.isInTheQueue.value_or(false);
    const bool installed = package.isInstalled.value_or(false);
    QString image;
    QColor tint;
    shownOperation_ = 0;
    const ZMPalette palette = ZMPaletteManager::sharedManager().palette();
    if (queued) {
        shownOperation_ = package.queueOperation.value_or(ZMRQueueOperationNone);
        switch (shownOperation_) {
            case ZMRQueueOperationRemove: image = "Remove"; tint = QColor(255, 59, 48); break;
            case ZMRQueueOperationUpgrade: image = "Upgrade"; tint = palette.tintColor(); break;
            case ZMRQueueOperationDowngrade: image = "Downgrade"; tint = QColor(255, 149, 0); break;
            case ZMRQueueOperationReinstall: image = "Reinstall"; tint = palette.tintColor(); break;
            default: image = "Install"; tint = palette.tintColor(); break;
        }
    } else if (installed) {
        image = "Installed";
        tint = QColor(52, 199, 89);
    }
    if (image.isEmpty()) {
        view->clear();
        view->hide();
        return;
    }
    QPixmap glyph = ZMSvgPixmap::pixmap(QStringLiteral(":/Images/Queue/%1.svg").arg(image), 18);
    {
        QPainter p(&glyph);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(glyph.rect(), tint);
    }
    view->setPixmap(glyph);
    view->setToolTip(image);
    view->show();
}

void PackageCell::updateConpatibilityIndicatorWithPackageIdentifier(const std::string& identifier,
                                                                    const std::string& version) {
    if (VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::HidePackageTweakCompatibleIndicator)) {
        ui_->compatibilityView->hide();
        return;
    }
    ui_->compatibilityView->setColor(
        PackageRow::colorForCompatibilityStatus(PackageRow::compatibilityStatus(identifier, version)));
    ui_->compatibilityView->show();
}

void PackageCell::updatePackageIcon() {
    ui_->iconView->setPixmap(PackageRow::iconForPackage(packageIdentifier_, ui_->iconView->maximumHeight(), fetchesIcon_));
}

void PackageCell::prepareForReuse() {
    ui_->iconView->clear();
    shownOperation_ = 0;
}

void PackageRow::Observer::observe(const std::string& identifier, std::function<std::string()> showing,
                                   std::function<void()> redraw, std::function<void()> iconChanged) {
    if (identifier == identifier_ && queue_.isActive()) return;
    identifier_ = identifier;
    queue_.reset();
    icon_.reset();
    if (identifier.empty()) return;
    // The tokens end with the row (they are its members), so the handlers
    // never outlive what they call.
    auto& center = NotificationCenter::defaultCenter();
    queue_ = center.addObserver(queueStateNotificationName(identifier), NotificationCenter::Queue::Main,
                                [this, identifier, showing, redraw](const Notification&) {
                                    if (showing() != identifier) return;
                                    ++redraws_;
                                    redraw();
                                });
    icon_ = center.addObserver(
        ZMRPackageInfoIconChangedNotification, NotificationCenter::Queue::Main,
        [identifier, showing, iconChanged](const Notification&) {
            if (showing() == identifier) iconChanged();
        },
        identifier);
}
