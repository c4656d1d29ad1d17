#include "Online/Screens/VostrelleSetupRestorationViewController.h"

#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "Browsing/SourceAddition.h"
#include "ErrorViewController.h"
#include "Online/Screens/GroupedScreenPalette.h"
#include "PackageCell.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"
#include "VostrellePersistentPreferences.h"
#include "ZMDeviceOwnerAuthentication.h"

using BrowsingText::q;

namespace {
std::string L(const char* key) { return ZMLocalizedString(key); }
const char* kTitle = "Vostrelle Setup Restoration";

std::string keyAt(const std::map<std::string, bool>& map, int row) {
    auto it = map.begin();
    std::advance(it, row);
    return it->first;
}
}  // namespace

VostrelleSetupRestorationViewController::VostrelleSetupRestorationViewController(QWidget* parent)
    : ZMPalettedViewController(parent) {
    setObjectName("VostrelleSetupRestorationViewController");
    GroupedScreenPalette::applyCurrent(this);
}

VostrelleSetupRestorationViewController::~VostrelleSetupRestorationViewController() {
    for (auto* table : {sourcesTable_, packagesTable_})
        if (table) {
            table->setDataSource(nullptr);
            table->setDelegate(nullptr);
        }
}

void VostrelleSetupRestorationViewController::viewDidLoad() {
    setTitle(q("Setup Restoration"));
    QPointer<VostrelleSetupRestorationViewController> self(this);
    restoreBtn_ = new UIBarButtonItem(q("Restore now"), [self](UIBarButtonItem*) {
        if (self) self->restoreVostrelleSetup();
    }, this);
    navigationItem()->setRightBarButtonItem(restoreBtn_);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setObjectName("scrollView");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->viewport()->setAutoFillBackground(false);
    outer->addWidget(scroll);
    auto* page = new QWidget;
    page->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(16, 16, 16, 24);
    column->setSpacing(6);
    scroll->setWidget(page);
    auto section = [&](QLabel*& title, QLabel*& selected, UITableView*& table, const char* text, const char* name) {
        title = new QLabel(q(text));
        title->setObjectName(QString(name) + "Title");
        QFont f = title->font();
        f.setBold(true);
        f.setPointSizeF(f.pointSizeF() * 1.3);
        title->setFont(f);
        selected = new QLabel;
        selected->setObjectName(QString("selected") + (name[0] == 's' ? "Sources" : "Packages") + "Label");
        table = new UITableView(UITableView::Style::Plain);
        table->setObjectName(QString(name) + "TableView");
        table->setSizesToContent(true);
        table->setRowHeight(kRowHeight);
        table->registerCell("genericCell", [] { return new UITableViewCell("genericCell"); });
        table->setDataSource(this);
        table->setDelegate(this);
        table->setBackgroundColor(Qt::transparent);
        table->setSeparatorStyle(UITableView::SeparatorStyle::None);
        column->addWidget(title);
        column->addWidget(selected);
        column->addWidget(table);
        if (table == sourcesTable_) {
            unusableSourcesLbl_ = new QLabel;
            unusableSourcesLbl_->setObjectName("unusableSourcesLabel");
            unusableSourcesLbl_->setTextFormat(Qt::PlainText);  // locations from the backup file
            unusableSourcesLbl_->setWordWrap(true);
            column->addWidget(unusableSourcesLbl_);
        }
        column->addSpacing(18);
    };
    section(sourcesTitle_, selectedSourcesLbl_, sourcesTable_, "Sources", "sources");
    section(packagesTitle_, selectedPackagesLbl_, packagesTable_, "Packages", "packages");
    column->addStretch(1);
    UISwipeGesture::addBackSwipe(this);
    setContent();
}

void VostrelleSetupRestorationViewController::setContent() {
    // As high as the rows of the map when the page loads.
    sourcesTable_->setFixedHeight(kRowHeight * std::max<int>(1, static_cast<int>(sources_.size())));
    packagesTable_->setFixedHeight(kRowHeight * std::max<int>(1, static_cast<int>(packages_.size())));
    selectedSourcesLbl_->setText(q("Selected (%lu)").replace("%lu", QString::number(countOfSelectedSources())));
    selectedPackagesLbl_->setText(q("Selected (%lu)").replace("%lu", QString::number(countOfSelectedPackages())));
    QString unusable;
    for (const auto& location : unusableSources_) unusable += "\n" + QString::fromStdString(location);
    unusableSourcesLbl_->setText(q("These sources of the backup cannot be added:") + unusable);
    unusableSourcesLbl_->setVisible(!unusableSources_.empty());
    sourcesTable_->reloadData();
    packagesTable_->reloadData();
}

std::map<std::string, bool>& VostrelleSetupRestorationViewController::mapOf(UITableView* table) {
    return table == sourcesTable_ ? sources_ : packages_;
}

int VostrelleSetupRestorationViewController::numberOfRows(UITableView* table, int) {
    // An empty list shows one row saying so.
    return std::max<int>(1, static_cast<int>(mapOf(table).size()));
}

UITableViewCell* VostrelleSetupRestorationViewController::cellForRow(UITableView* table, IndexPath ip) {
    auto* cell = table->dequeueReusableCell("genericCell");
    const auto& map = mapOf(table);
    const ZMPalette p = palette();
    QLabel* label = cell->textLabel();
    label->setTextFormat(Qt::PlainText);  // locations and identifiers from the backup file
    QFont f = label->font();
    f.setPixelSize(17);
    label->setFont(f);
    cell->setBackgroundColor(p.cellBackgroundColor());
    if (map.empty()) {
        label->setText(q(table == sourcesTable_ ? "0 source to restore" : "0 packages to restore"));
        PackageRow::setTextColor(label, p.secondaryTextColor());
        cell->setAccessoryType(UITableViewCell::Accessory::None);
        return cell;
    }
    auto it = map.begin();
    std::advance(it, ip.row);
    label->setText(QString::fromStdString(it->first));
    PackageRow::setTextColor(label, it->second ? p.tintColor() : p.secondaryTextColor());
    cell->setAccessoryType(it->second ? UITableViewCell::Accessory::Checkmark : UITableViewCell::Accessory::None);
    cell->setAccessoryColor(p.tintColor());
    return cell;
}

void VostrelleSetupRestorationViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, true);
    auto& map = mapOf(table);
    if (map.empty() || restoring_ || ip.row < 0 || ip.row >= static_cast<int>(map.size())) return;
    const std::string key = keyAt(map, ip.row);
    map[key] = !map[key];
    table->reloadRows({ip});
    setContent();
}

// ---- restoring ----------------------------------------------------------------------------

void VostrelleSetupRestorationViewController::restoreVostrelleSetup() {
    if (restoring_) return;
    UIAlertController* alert = nullptr;
    if (countOfSelectedSources() == 0 && countOfSelectedPackages() == 0) {
        alert = UIAlertController::alertControllerWithTitle(
            q(kTitle),
            q("You do not have any sources, or packages selected for restoration. Please select some items in the list "
              "before attempting to restore"),
            UIAlertController::Style::Alert);
        alert->addAction(q("OK"), UIAlertController::ActionStyle::Cancel);
    } else {
        alert = UIAlertController::alertControllerWithTitle(
            q(kTitle),
            q("Do you really want to restore the backup as selected? Please note that if you don't restore all your "
              "sources, packages may be not found and so couldn't be restored."),
            UIAlertController::Style::Alert);
        QPointer<VostrelleSetupRestorationViewController> self(this);
        alert->addAction(q("Restore now"), UIAlertController::ActionStyle::Default, [self] {
            if (self) self->confirmed();
        });
        alert->addAction(q("Cancel"), UIAlertController::ActionStyle::Cancel);
    }
    SourceAddition::topPresenter(this)->presentViewController(alert, true);
}

void VostrelleSetupRestorationViewController::confirmed() {
    if (!VostrellePersistentPreferences::sharedInstance().boolForKey(
            VostrellePreferenceKey::AuthenticationForPackagesManagementTasks)) {
        approveHTTPAndLaunch();
        return;
    }
    QPointer<VostrelleSetupRestorationViewController> self(this);
    // A failed or impossible check shows its own alert and restores nothing.
    ZMDeviceOwnerAuthentication::authenticate(L("Please authenticate yourself to restore your Vostrelle setup"),
                                              [self](bool authenticated) {
                                                  if (self && authenticated) self->approveHTTPAndLaunch();
                                              });
}

void VostrelleSetupRestorationViewController::approveHTTPAndLaunch() {
    if (ZMSetupRestoration::plainHTTPSources(ZMSetupRestoration::selected(sources_)).empty()) {
        launchSetupRestoration(false);
        return;
    }
    // The same question as adding one plain-http source by hand.
    auto* warning = new ErrorViewController;
    warning->setDelegate(this);
    QPointer<VostrelleSetupRestorationViewController> self(this);
    warning->showWithTitle(L("Warning"),
                           L("You are trying to add a source with http:// instead of default https://.\n"
                             "As it is less secure, are you sure you want to add it?"),
                           2, L("Cancel"), L("Continue"), ErrorViewController::Action([self] {
                               if (self) self->launchSetupRestoration(true);
                           }));
    SourceAddition::topPresenter(this)->presentViewController(warning, true);
}

void VostrelleSetupRestorationViewController::launchSetupRestoration(bool httpApproved) {
    if (restoring_) return;
    restoring_ = true;
    restoreBtn_->setEnabled(false);
    QPointer<VostrelleSetupRestorationViewController> self(this);
    // The restoration keeps itself alive: leaving this page does not stop it.
    ZMSetupRestoration::launchSetupRestoration(
        ZMSetupRestoration::selected(sources_), ZMSetupRestoration::selected(packages_), httpApproved,
        [self](ZMSetupRestoration::Summary) {
            if (!self) return;
            self->restoring_ = false;
            self->restoreBtn_->setEnabled(true);
            if (auto* nav = self->navigationController(); nav && nav->topViewController() == self)
                nav->popViewController(true);
        });
}


// ---- palette ------------------------------------------------------------------------------

void VostrelleSetupRestorationViewController::paletteWillChangeToStyle(int style) { GroupedScreenPalette::apply(this, style); }

void VostrelleSetupRestorationViewController::paletteDidChange(const ZMPalette& p) {
    QPalette pal = QWidget::palette();
    pal.setColor(QPalette::Window, p.backgroundColor());
    setPalette(pal);
    setAutoFillBackground(true);
    if (!sourcesTitle_) return;
    PackageRow::setTextColor(sourcesTitle_, p.primaryTextColor());
    PackageRow::setTextColor(packagesTitle_, p.primaryTextColor());
    PackageRow::setTextColor(selectedSourcesLbl_, p.secondaryTextColor());
    PackageRow::setTextColor(selectedPackagesLbl_, p.secondaryTextColor());
    PackageRow::setTextColor(unusableSourcesLbl_, QColor(255, 59, 48));
    sourcesTable_->reloadData();
    packagesTable_->reloadData();
}
