#pragma once
// The application window: holds the root screen, drives its lifecycle when
// the window is shown or hidden, and hosts modal presentations above it.
#include <QPointer>
#include <QWidget>

class UIViewController;

class UIWindow : public QWidget {
    Q_OBJECT
public:
    explicit UIWindow(QWidget* parent = nullptr);
    void setRootViewController(UIViewController* vc);
    UIViewController* rootViewController() const { return root_; }
    // The top-most screen presented over the root (or the root itself);
    // skips a presented screen that is being dismissed.
    UIViewController* topPresentedViewController() const;

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    QPointer<UIViewController> root_;
};
