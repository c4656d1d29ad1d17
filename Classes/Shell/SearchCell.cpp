#include "SearchCell.h"

#include "PackageCell.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>

#include "Database/ZMRPackageManager.h"
#include "Dispatch/Dispatch.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UITableView.h"
#include "UIKit/UIWindow.h"
#include "ZMVostrelle.h"
#include "ui_SearchCell.h"
#include "ZMStoreGuard.h"

namespace {

// The screen to show the confirmation on: the top of this row's window, else
// of the application's window.
UIViewController* presenterFor(QWidget* row) {
    if (auto* window = row ? qobject_cast<UIWindow*>(row->window()) : nullptr) return window->topPresentedViewController();
    if (auto* window = ZMVostrelle::sharedVostrelle().window()) return window->topPresentedViewController();
    return nullptr;
}

}  // namespace

SearchCell::SearchCell(const QString& reuseIdentifier, QWidget* parent)
    : UITableViewCell(reuseIdentifier, parent), ui_(std::make_unique<Ui::SearchCell>()) {
    ui_->setupUi(contentView());
    setSeparatorInset(16 + 40 + 12);
    QFont bold = ui_->nameLbl->font();
    bold.setBold(true);
    ui_->nameLbl->setFont(bold);
    QFont small = ui_->subinfoLbl->font();
    small.setPointSizeF(small.pointSizeF() * 0.88);
    ui_->subinfoLbl->setFont(small);
    ui_->subinfoLbl->setForegroundRole(QPalette::PlaceholderText);
    // Names and descriptions come from servers: never read as markup.
    ui_->nameLbl->setTextFormat(Qt::PlainText);
    ui_->subinfoLbl->setTextFormat(Qt::PlainText);
    ui_->nameLbl->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ui_->subinfoLbl->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setFollowButtonFollowed(false);
    connect(ui_->followBtn, &QToolButton::clicked, this, [this] { changeFollowState(); });
}

SearchCell::~SearchCell() = default;

QLabel* SearchCell::iconView() const { return ui_->iconView; }
QLabel* SearchCell::nameLbl() const { return ui_->nameLbl; }
QLabel* SearchCell::subinfoLbl() const { return ui_->subinfoLbl; }
QToolButton* SearchCell::followBtn() const { return ui_->followBtn; }

void SearchCell::setDelegate(SearchCellDelegate* delegate) { delegate_.set(delegate); }

SearchCellDelegate* SearchCell::delegate() const { return delegate_.get(); }

void SearchCell::setFollowButtonFollowed(bool followed) {
    showsFollowed_ = followed;
    ui_->followBtn->setIcon(QIcon(followed ? QStringLiteral(":/Images/Developers/unfollow.svg")
                                           : QStringLiteral(":/Images/Developers/follow.svg")));
    ui_->followBtn->setToolTip(followed ? tr("Unfollow") : tr("Follow"));
}

void SearchCell::showEntry(UITableView* table, IndexPath indexPath, const QPixmap& icon, const std::string& name,
                           const std::string& line, const QColor& nameColor) {
    if (!icon.isNull()) setIcon(icon);
    ui_->nameLbl->setText(QString::fromStdString(name));
    PackageRow::setTextColor(ui_->nameLbl, nameColor);
    ui_->subinfoLbl->setText(QString::fromStdString(line));
    ui_->followBtn->hide();
    setAccessoryType(Accessory::DisclosureIndicator);
    setBackgroundColor(Qt::transparent);
    PackageRow::hideSeparatorIfLast(this, table, indexPath);
}

void SearchCell::setIcon(const QPixmap& picture) {
    const int side = ui_->iconView->maximumHeight();
    QPixmap out(side, side);
    out.fill(Qt::transparent);
    if (!picture.isNull()) {
        QPainter p(&out);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        QPainterPath clip;
        clip.addRoundedRect(QRectF(0, 0, side, side), kIconCornerRadius, kIconCornerRadius);
        p.setClipPath(clip);
        // Fit: the whole picture, centred.
        const QPixmap scaled = picture.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        p.drawPixmap((side - scaled.width()) / 2, (side - scaled.height()) / 2, scaled);
    }
    ui_->iconView->setPixmap(out);
}

void SearchCell::changeFollowState() {
    if (developerName_.empty()) return;
    auto& developers = ZMRPackageManager::sharedPackageManager().developers();
    auto followed = ZMStoreGuard::value("following a developer", [&] { return developers.isDeveloperFollowed(developerName_); });
    if (!followed) return;
    const bool follow = !*followed;
    setFollowButtonFollowed(follow);

    QPointer<SearchCell> self(this);
    const std::string name = developerName_;
    // Shown as the system's own words, untranslated.
    storeFollow(name, follow, this, follow ? QStringLiteral("Followed") : QStringLiteral("Unfollowed"),
                [self, name, follow, delegate = delegate_](bool stored) {
                    if (!stored) {
                        if (self && self->developerName_ == name) self->setFollowButtonFollowed(!follow);
                        return;
                    }
                    // A list the delegate redraws now reads the new state.
                    if (auto* told = delegate.get()) told->followStateChanged();
                });
}

void SearchCell::storeFollow(const std::string& name, bool follow, QWidget* anchor, const QString& confirmation,
                             std::function<void(bool stored)> done) {
    QPointer<QWidget> shownFrom(anchor);
    ZMRPackageManager::sharedPackageManager().developers().setDeveloper(
        name, follow, [shownFrom, confirmation, done](std::optional<ZMError> failure) {
            if (failure) ZMStoreGuard::tell("following a developer", *failure);
            if (done) done(!failure);
            if (!failure) presentFollowConfirmation(presenterFor(shownFrom), confirmation);
        });
}

void SearchCell::presentFollowConfirmation(UIViewController* presenter, const QString& title) {
    if (!presenter) return;
    QPointer<UIAlertController> alert =
        UIAlertController::alertControllerWithTitle(title, QString(), UIAlertController::Style::Alert);
    presenter->presentViewController(alert, true, [alert] {
        Dispatch::mainAfter(kConfirmationSeconds, [alert] {
            if (alert && !alert->isBeingDismissed() && alert->presentingViewController()) alert->dismissViewController(true);
        });
    });
}

void SearchCell::prepareForReuse() {
    developerName_.clear();
    ui_->iconView->clear();
    ui_->nameLbl->clear();
    ui_->subinfoLbl->clear();
    ui_->followBtn->show();
    setFollowButtonFollowed(false);
}
