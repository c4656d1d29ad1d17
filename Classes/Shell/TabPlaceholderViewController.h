#pragma once
// Stand-in root screen of a tab whose real screen is not written yet. It only
// shows the tab's title and a short note; the screens that replace it are
// created in ZMVostrelle's tab set-up.
#include <QLabel>
#include <QString>

#include "ZMPalettedViewController.h"

class TabPlaceholderViewController : public ZMPalettedViewController {
    Q_OBJECT
public:
    // `screenName` names the screen it stands in for ("FeaturedViewController");
    // the object is named "<screenName>-placeholder".
    TabPlaceholderViewController(const QString& screenName, const QString& title, QWidget* parent = nullptr);
    QString screenName() const { return screenName_; }
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;

private:
    QString screenName_;
    QLabel* note_ = nullptr;
};
