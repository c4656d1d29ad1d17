#include "Browsing/PackageRows.h"

#include <QMenu>
#include <QPointer>

#include "Browsing/BrowsingText.h"
#include "Database/ZMRPackageManager.h"
#include "Miscellaneous/ZMLog.h"
#include "GetPackageCell.h"
#include "PackageCell.h"
#include "ZMStoreGuard.h"
#include "ZMVostrelle.h"

namespace PackageRows {

std::optional<ZMRPackage> lookUp(const std::optional<std::string>& identifier) {
    if (!identifier || identifier->empty()) return std::nullopt;
    auto package = ZMStoreGuard::value("reading a package", [&] { return ZMRPackage::objectForPrimaryKey(*identifier); });
    if (package && *package && !(*package)->isInvalidated()) return *package;
    return std::nullopt;
}

std::optional<ZMRPackage> fill(PackageCell* cell, const std::optional<std::string>& identifier) {
    auto package = lookUp(identifier);
    if (!package) {
        cell->setPackageIdentifier("");
        cell->iconView()->clear();
        cell->nameLbl()->clear();
        cell->versionLbl()->hide();
        cell->subinfoLbl()->clear();
        cell->descriptionLbl()->clear();
        cell->compatibilityView()->hide();
        cell->installOrQueueStatusImageView()->hide();
        return std::nullopt;
    }
    // Name, version, sub-line, description, icon, queue mark and compatibility dot.
    cell->updateWithPackage(*package);
    return package;
}

PackageCell* dequeueCell(UITableView* table, IndexPath ip, const std::optional<std::string>& identifier,
                         bool fetchesIcon) {
    auto* cell = table->dequeueReusableCell<PackageCell>("cell");
    cell->setFetchesIcon(fetchesIcon);
    cell->setBackgroundColor(Qt::transparent);
    cell->setAccessoryType(UITableViewCell::Accessory::DisclosureIndicator);
    fill(cell, identifier);
    PackageRow::hideSeparatorIfLast(cell, table, ip);
    return cell;
}

void styleHeader(QWidget* header, const ZMPalette& palette) {
    QPalette p = header->palette();
    p.setColor(QPalette::Window, palette.foregroundColor());
    p.setColor(QPalette::WindowText, palette.primaryTextColor());
    p.setColor(QPalette::Text, palette.primaryTextColor());
    header->setPalette(p);
    for (auto* label : header->findChildren<QLabel*>()) label->setPalette(p);
}

std::optional<ZMRPackage> fillGetCell(GetPackageCell* cell, const std::optional<std::string>& identifier) {
    auto package = lookUp(identifier);
    cell->getBtn()->setVisible(package.has_value());
    if (!package) {
        cell->setPackageIdentifier("");
        cell->iconView()->clear();
        cell->nameLbl()->clear();
        cell->subinfoLbl()->clear();
        return std::nullopt;
    }
    cell->setShowsPaidLabel(false);
    cell->updateWithPackage(*package);
    return package;
}

std::vector<UIContextualAction> queueActions(UITableView* table, IndexPath ip, const ZMRPackage& package,
                                             std::function<void()> afterwards) {
    const std::string id = package.identifier;
    QPointer<UITableView> tableGuard(table);
    auto redrawRow = [tableGuard, ip, id] {
        if (!tableGuard) return;
        if (auto* cell = qobject_cast<PackageCell*>(tableGuard->cellForRow(ip)); cell && cell->packageIdentifier() == id)
            if (auto fresh = lookUp(id)) cell->updateQueuingIconWithPackage(*fresh);
    };
    UIContextualAction action;
    action.style = UIContextualAction::Style::Normal;
    if (package.isInTheQueue.value_or(false)) {
        action.title = BrowsingText::q("Remove");
        action.backgroundColor = QColor(255, 59, 48);
        action.handler = [id, redrawRow, afterwards](const UIContextualAction&, QWidget*, std::function<void(bool)> done) {
            auto fresh = lookUp(id);
            if (fresh && ZMStoreGuard::run("removing a package from the queue", [&] {
                    ZMRPackageManager::sharedPackageManager().packages().setPackageObject(*fresh, false, std::nullopt, 0);
                })) {
                redrawRow();
                // Every other view of this package (details, other lists) follows.
                NotificationCenter::defaultCenter().post(PackageRow::queueStateNotificationName(id));
            }
            if (afterwards) afterwards();
            if (done) done(true);
        };
    } else {
        action.title = BrowsingText::q("Queue");
        action.backgroundColor = QColor::fromRgbF(0.0, 0.67, 0.88, 1.0);
        action.handler = [id, redrawRow, afterwards](const UIContextualAction&, QWidget*, std::function<void(bool)> done) {
            ZMVostrelle::sharedVostrelle().queuePackageWithIdentifier(id, std::nullopt, nullptr);
            redrawRow();
            if (afterwards) afterwards();
            if (done) done(true);
        };
    }
    return {action};
}

void addQueueMenu(QWidget* button, std::function<std::string()> identifier, std::function<void()> afterwards) {
    if (!button) return;
    button->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(button, &QWidget::customContextMenuRequested, button,
                     [button, identifier = std::move(identifier), afterwards = std::move(afterwards)](const QPoint& at) {
                         auto package = lookUp(identifier());
                         if (!package) return;
                         for (auto* old : button->findChildren<QMenu*>("queueMenu", Qt::FindDirectChildrenOnly)) old->deleteLater();
                         auto* menu = new QMenu(button);
                         menu->setObjectName("queueMenu");
                         menu->setAttribute(Qt::WA_DeleteOnClose);
                         for (const auto& action : queueActions(nullptr, {}, *package, afterwards)) {
                             QAction* item = menu->addAction(action.title);
                             QObject::connect(item, &QAction::triggered, button, [action, button] {
                                 if (action.handler) action.handler(action, button, nullptr);
                             });
                         }
                         menu->popup(button->mapToGlobal(at));
                     });
}

}  // namespace PackageRows
