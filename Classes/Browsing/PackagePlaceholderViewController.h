#pragma once
// Stands in for the package details screen until it exists: names the
// package, shows its version, source and description, and queues it.
#include <QLabel>
#include <QPushButton>
#include <string>

#include "Notifications/NotificationCenter.h"
#include "ZMPalettedViewController.h"

class PackagePlaceholderViewController : public ZMPalettedViewController {
    Q_OBJECT
public:
    explicit PackagePlaceholderViewController(QWidget* parent = nullptr);
    void setPackageIdentifier(const std::string& identifier) { packageIdentifier_ = identifier; }
    const std::string& packageIdentifier() const { return packageIdentifier_; }

    QLabel* nameLbl() const { return name_; }
    QPushButton* getBtn() const { return get_; }
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    void redraw();
    std::string packageIdentifier_;
    QLabel* icon_ = nullptr;
    QLabel* name_ = nullptr;
    QLabel* details_ = nullptr;
    QLabel* description_ = nullptr;
    QPushButton* get_ = nullptr;
    ObserverToken queueObserver_;
};
