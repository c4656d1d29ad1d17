#pragma once
// The package row with the Get button: icon, name, maintainer or source name
// and a button that reads "GET", "UPDATE", "UNINSTALL", "QUEUED", "OWNED" or
// the price. A tap bounces the button and hands the package to the queue
// entry point (ZMVostrelle::queuePackageWithIdentifier). Layout:
// Resources/GetPackageCell.ui. Same row rules and notifications as PackageCell.
#include <QLabel>
#include <QPushButton>
#include <memory>
#include <string>

#include "Database/ZMRPackage.h"
#include "Notifications/NotificationCenter.h"
#include "PackageCell.h"
#include "UIKit/UITableViewCell.h"

namespace Ui {
class GetPackageCell;
}

class GetPackageCell : public UITableViewCell {
    Q_OBJECT
public:
    static inline const QString kReuseIdentifier = QStringLiteral("GetPackageCell");
    explicit GetPackageCell(const QString& reuseIdentifier = kReuseIdentifier, QWidget* parent = nullptr);
    ~GetPackageCell() override;

    // Fills icon, name, sub-line and button, and follows the package.
    void updateWithPackage(const ZMRPackage& package);
    // The button's title for the package's state; showsPaidLabel asks for the
    // price of a paid package instead of "GET".
    void updateButtonTitleWithPackage(const ZMRPackage& package, bool showsPaidLabel);
    void updatePackageIcon();

    const std::string& packageIdentifier() const { return packageIdentifier_; }
    void setPackageIdentifier(const std::string& identifier);
    // Whether the button shows prices (kept for the redraws of the notification).
    bool showsPaidLabel() const { return showsPaidLabel_; }
    void setShowsPaidLabel(bool shows) { showsPaidLabel_ = shows; }

    QLabel* iconView() const;
    QLabel* nameLbl() const;
    QLabel* subinfoLbl() const;
    QPushButton* getBtn() const;

    int notificationRedrawCount() const { return observer_.redrawCount(); }

private:
    void redrawFromDatabase();
    void getTapped();
    std::unique_ptr<Ui::GetPackageCell> ui_;
    std::string packageIdentifier_;
    PackageRow::Observer observer_;
    bool showsPaidLabel_ = true;
};
