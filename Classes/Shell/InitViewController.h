#pragma once
// The first-run flow, shown until the preference "setupDone" is set:
//   InitViewController          welcome
//   DarkmodeViewController      the theme
//   (the account sign-in step, when one is installed)
//   RepoTransferViewController  import of the host's APT sources
// Each screen presents the next; the last one sets "setupDone", adds the
// chosen sources, starts the first refresh of all sources and closes the
// whole flow.
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <functional>
#include <string>
#include <vector>

#include "ZMPalettedViewController.h"

class InitViewController : public ZMPalettedViewController {
    Q_OBJECT
public:
    explicit InitViewController(QWidget* parent = nullptr);
    // Whether the flow is still to be done.
    static bool needsSetup();
    // The sign-in step between the theme and the import (the account code
    // installs it; that screen presents RepoTransferViewController itself).
    static void setLoginStepFactory(std::function<UIViewController*()> factory);
    static UIViewController* makeLoginStep();
    // Presents the flow over the top of `presenter`'s presentations, unless
    // the setup is done or a flow is already shown there. True when presented.
    static bool presentFlowIfNeeded(UIViewController* presenter);

    void nextViewController();
    QPushButton* continueButton() const { return continueBtn_; }
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;

private:
    QLabel* titleLbl_ = nullptr;
    QLabel* textLbl_ = nullptr;
    QPushButton* continueBtn_ = nullptr;
};

class DarkmodeViewController : public ZMPalettedViewController {
    Q_OBJECT
public:
    explicit DarkmodeViewController(QWidget* parent = nullptr);
    // Stores the theme and applies it at once.
    void chooseStyle(int style);
    void nextViewController();
    QPushButton* styleButton(int style) const;
    QPushButton* continueButton() const { return continueBtn_; }
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;

private:
    QLabel* titleLbl_ = nullptr;
    std::vector<QPushButton*> styleBtns_;
    QPushButton* continueBtn_ = nullptr;
};

class RepoTransferViewController : public ZMPalettedViewController {
    Q_OBJECT
public:
    explicit RepoTransferViewController(QWidget* parent = nullptr);

    // The importable locations, each checked at first.
    const std::vector<std::string>& locations() const { return locations_; }
    QListWidget* listWidget() const { return list_; }
    std::vector<std::string> checkedLocations() const;
    QPushButton* doneButton() const { return doneBtn_; }
    // "Done": finishSetup with the checked locations, then closes the flow.
    void done();

    // The end of the flow: "setupDone" (saved at once), the sources added
    // (the user chose them from what the host's APT already uses, so plain
    // http needs no second confirmation), then the first refresh of all sources.
    static void finishSetup(const std::vector<std::string>& locations);

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;

private:
    std::vector<std::string> locations_;
    QLabel* titleLbl_ = nullptr;
    QLabel* textLbl_ = nullptr;
    QListWidget* list_ = nullptr;
    QPushButton* doneBtn_ = nullptr;
};
