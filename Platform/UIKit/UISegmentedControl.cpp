#include "UIKit/UISegmentedControl.h"

#include <QHBoxLayout>
#include <QToolButton>

UISegmentedControl::UISegmentedControl(const QStringList& titles, QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    group_.setExclusive(true);
    for (int i = 0; i < titles.size(); ++i) {
        auto* b = new QToolButton(this);
        b->setObjectName("segment");
        b->setText(titles[i]);
        b->setCheckable(true);
        b->setCursor(Qt::PointingHandCursor);
        group_.addButton(b, i);
        row->addWidget(b);
    }
    connect(&group_, &QButtonGroup::idClicked, this, &UISegmentedControl::valueChanged);
}

int UISegmentedControl::selectedSegmentIndex() const { return group_.checkedId(); }

void UISegmentedControl::setSelectedSegmentIndex(int index) {
    if (auto* b = group_.button(index)) b->setChecked(true);
}

int UISegmentedControl::numberOfSegments() const { return static_cast<int>(group_.buttons().size()); }

QToolButton* UISegmentedControl::segment(int index) const { return static_cast<QToolButton*>(group_.button(index)); }

void UISegmentedControl::setTintColor(const QColor& tint, const QColor& selectedText) {
    const int n = numberOfSegments();
    for (int i = 0; i < n; ++i) {
        const QString radius = i == 0 ? "border-top-left-radius: 7px; border-bottom-left-radius: 7px;"
                                      : (i == n - 1 ? "border-top-right-radius: 7px; border-bottom-right-radius: 7px;" : "");
        segment(i)->setStyleSheet(QStringLiteral("QToolButton { color: %1; border: 1px solid %1; padding: 3px 10px; "
                                                 "background: transparent; %3 }"
                                                 "QToolButton:checked { color: %2; background: %1; }")
                                      .arg(tint.name(), selectedText.name(), radius));
    }
}
