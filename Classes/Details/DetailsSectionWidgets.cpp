#include "Details/DetailsSectionWidgets.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace DetailsSectionWidgets {

QLabel* plainLabel(const char* objectName, bool wraps) {
    auto* l = new QLabel;
    l->setObjectName(objectName);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(wraps);
    return l;
}

QLabel* titleLabel(const char* objectName, const QString& text) {
    auto* l = plainLabel(objectName);
    QFont f = l->font();
    f.setPixelSize(21);
    f.setBold(true);
    l->setFont(f);
    l->setText(text);
    return l;
}

QWidget* separator(const char* objectName) {
    auto* line = new QWidget;
    line->setObjectName(objectName);
    line->setProperty("separatorLine", true);
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    return line;
}

QPushButton* linkButton(const char* objectName, const QString& title) {
    auto* b = new QPushButton(title);
    b->setObjectName(objectName);
    b->setFlat(true);
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

QPushButton* filledButton(const char* objectName, const QString& title) {
    auto* b = new QPushButton(title);
    b->setObjectName(objectName);
    b->setCursor(Qt::PointingHandCursor);
    b->setMinimumHeight(44);
    return b;
}

QWidget* row(const char* objectName, QLabel* caption, QLabel* value) {
    auto* w = new QWidget;
    w->setObjectName(objectName);
    auto* line = new QHBoxLayout(w);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(16);
    line->addWidget(caption, 0, Qt::AlignTop);
    value->setWordWrap(true);
    value->setAlignment(Qt::AlignRight | Qt::AlignTop);
    value->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    line->addWidget(value, 1);
    return w;
}

void setTopGap(QWidget* view, int gap) {
    if (!view->layout()) return;
    auto m = view->layout()->contentsMargins();
    if (m.top() == gap) return;
    m.setTop(gap);
    view->layout()->setContentsMargins(m);
}

int topGap(const QWidget* view) { return view->layout() ? view->layout()->contentsMargins().top() : 0; }

void colorSeparators(QWidget* root, const QColor& color) {
    for (QWidget* line : root->findChildren<QWidget*>()) {
        if (!line->property("separatorLine").toBool()) continue;
        QPalette lp = line->palette();
        lp.setColor(QPalette::Window, color);
        line->setPalette(lp);
    }
}

}  // namespace DetailsSectionWidgets
