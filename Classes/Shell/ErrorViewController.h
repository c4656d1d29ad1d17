#pragma once
// The modal popup for errors and confirmations: a title, an optional
// message, a close button and optionally a second ("other") button. The
// caller fills it with showWithTitle(...), sets the over-full-screen style
// (the constructor does) and presents it, animated. Close dismisses it; the
// other button dismisses it and then calls its selector on the delegate, or
// its block. Esc is Close; Return is the default button: the other button
// (what the popup asks for), or Close when there is none or the caller says
// the other one is only an aside ("More Info").
//
//   auto* popup = new ErrorViewController;
//   popup->setDelegate(this);
//   popup->showWithTitle("Warning", "Add anyway?", 2, "Cancel", "Add",
//                        ErrorViewController::selector(&SourcesScreen::addAnyway));
//   presentViewController(popup, true);
#include <QLabel>
#include <QPushButton>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ZMErrorDelegate.h"
#include "ZMPalettedViewController.h"

namespace Ui {
class ErrorViewController;
}

class ErrorViewController : public ZMPalettedViewController {
    Q_OBJECT
public:
    // An operation of the delegate, sent with the other button.
    using Selector = std::function<void(ZMErrorDelegate&)>;
    using Action = std::function<void()>;

    explicit ErrorViewController(QWidget* parent = nullptr);
    ~ErrorViewController() override;

    // A selector for a method of the delegate's class; nothing happens when
    // the delegate is of another class.
    template <class T>
    static Selector selector(void (T::*method)()) {
        return [method](ZMErrorDelegate& d) {
            if (auto* t = dynamic_cast<T*>(&d)) (t->*method)();
        };
    }

    // The selector variant.
    void showWithTitle(const std::string& title, const std::optional<std::string>& errorMessage, int numberOfButtons,
                       const std::string& closeButtonText, const std::optional<std::string>& otherButtonText,
                       Selector otherButtonSelector);
    // The block variant (also the one for a single button).
    void showWithTitle(const std::string& title, const std::optional<std::string>& errorMessage, int numberOfButtons,
                       const std::string& closeButtonText, const std::optional<std::string>& otherButtonText = std::nullopt,
                       Action otherButtonAction = {});

    // Return presses Close even though there is another button.
    void setCloseIsDefault(bool closeIsDefault);

    void setDelegate(ZMErrorDelegate* delegate);
    ZMErrorDelegate* delegate() const;

    QLabel* titleLbl() const;
    QLabel* messageLbl() const;
    QPushButton* closeBtn() const;
    QPushButton* otherBtn() const;

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void paintEvent(QPaintEvent*) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void fill(const std::string& title, const std::optional<std::string>& message, int buttons, const std::string& closeText,
              const std::optional<std::string>& otherText);
    void closeTapped();
    void otherTapped();
    void updateDefaultButton();
    std::unique_ptr<Ui::ErrorViewController> ui_;
    ZMErrorDelegate* delegate_ = nullptr;
    std::weak_ptr<bool> delegateAlive_;
    Selector selector_;
    Action action_;
    bool done_ = false;
    bool closeIsDefault_ = false;
};
