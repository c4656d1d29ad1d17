#pragma once
// Several screens behind one segmented control (the right item of the
// navigation bar, tinted with the palette's tintColor): the chosen screen is
// shown as the child, swapped with a 0.25 s cross-fade. No large titles.
// The shown screen's own right bar buttons follow the control in the bar (a
// source screen's "Purchased"), as they change; one titled like a segment is
// left out, the segment being the way there.
#include <QStringList>
#include <vector>

#include "UIKit/UISegmentedControl.h"
#include "ZMPalettedViewController.h"

class SegmentedViewController : public ZMPalettedViewController {
    Q_OBJECT
public:
    // The screens, their segment titles in order, and the one shown first. An out-of-range first
    // index shows the first screen.
    SegmentedViewController(std::vector<UIViewController*> controllers, const QStringList& titles, int firstIndex,
                            QWidget* parent = nullptr);

    UISegmentedControl* segmentedControl() const { return control_; }
    int currentIndex() const { return current_; }
    UIViewController* currentViewController() const;
    const std::vector<UIViewController*>& controllers() const { return controllers_; }
    void showController(int index, bool animated);

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    std::vector<UIViewController*> appearanceChildren() const override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void showChildBarButtons();

    std::vector<UIViewController*> controllers_;
    UISegmentedControl* control_;
    UIBarButtonItem* controlItem_;
    int current_ = -1;
    bool swapping_ = false;
};
