#include "UIKit/UIAlertController.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

UIAlertController::UIAlertController(const QString& title, const QString& message, Style style, QWidget* parent)
    : UIViewController(parent), title_(title), message_(message), style_(style) {
    setModalPresentationStyle(ModalPresentationStyle::OverFullScreen);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::StrongFocus);
}

void UIAlertController::addAction(const QString& title, ActionStyle style, std::function<void()> handler) {
    actions_.push_back({title, style, std::move(handler)});
    if (isViewLoaded()) build();
}

QLineEdit* UIAlertController::addTextField(const std::function<void(QLineEdit*)>& configure) {
    auto* field = new QLineEdit(this);
    field->hide();
    if (configure) configure(field);
    textFields_.push_back(field);
    if (isViewLoaded()) build();
    return field;
}

QPushButton* UIAlertController::buttonForAction(int index) const {
    return index >= 0 && index < static_cast<int>(buttons_.size()) ? buttons_[index] : nullptr;
}

void UIAlertController::viewDidLoad() { build(); }

namespace {
QPushButton* makeButton(const UIAlertController::Action& a, QWidget* parent) {
    auto* b = new QPushButton(a.title, parent);
    b->setObjectName("alertButton");
    b->setCursor(Qt::PointingHandCursor);
    b->setFlat(true);
    b->setMinimumHeight(44);
    QString css = "QPushButton { border: none; border-top: 1px solid palette(mid); padding: 8px 12px; color: palette(link); }"
                  "QPushButton:hover { background: palette(highlight); }";
    if (a.style == UIAlertController::ActionStyle::Destructive) css.replace("palette(link)", "#ff3b30");
    b->setStyleSheet(css);
    QFont f = b->font();
    f.setPointSizeF(f.pointSizeF() * 1.05);
    f.setBold(a.style == UIAlertController::ActionStyle::Cancel);
    b->setFont(f);
    return b;
}
}  // namespace

void UIAlertController::build() {
    delete box_;
    delete cancelBox_;
    box_ = cancelBox_ = nullptr;
    buttons_.assign(actions_.size(), nullptr);

    auto styleBox = [](QWidget* box) {
        box->setObjectName("alertBox");
        box->setAttribute(Qt::WA_StyledBackground);
        box->setStyleSheet("#alertBox { background: palette(base); border-radius: 14px; }");
    };
    box_ = new QWidget(this);
    styleBox(box_);
    auto* v = new QVBoxLayout(box_);
    v->setContentsMargins(0, 16, 0, 0);
    v->setSpacing(6);
    if (!title_.isEmpty()) {
        auto* t = new QLabel(title_, box_);
        t->setObjectName("alertTitle");
        t->setTextFormat(Qt::PlainText);  // titles and messages may carry servers' texts
        t->setAlignment(Qt::AlignCenter);
        t->setWordWrap(true);
        QFont f = t->font();
        f.setBold(true);
        f.setPointSizeF(f.pointSizeF() * (style_ == Style::Alert ? 1.1 : 0.95));
        t->setFont(f);
        t->setContentsMargins(16, 0, 16, 0);
        v->addWidget(t);
    }
    if (!message_.isEmpty()) {
        auto* m = new QLabel(message_, box_);
        m->setObjectName("alertMessage");
        m->setTextFormat(Qt::PlainText);
        m->setAlignment(Qt::AlignCenter);
        m->setWordWrap(true);
        m->setForegroundRole(style_ == Style::Alert ? QPalette::Text : QPalette::PlaceholderText);
        m->setContentsMargins(16, 0, 16, 0);
        v->addWidget(m);
    }
    for (auto* field : textFields_) {
        field->setParent(box_);
        field->setContentsMargins(12, 0, 12, 0);
        field->show();
        v->addWidget(field);
    }
    v->addSpacing(10);

    const bool sheet = style_ == Style::ActionSheet;
    QBoxLayout* buttonRow = (!sheet && actions_.size() == 2) ? static_cast<QBoxLayout*>(new QHBoxLayout)
                                                             : static_cast<QBoxLayout*>(new QVBoxLayout);
    buttonRow->setSpacing(0);
    v->addLayout(buttonRow);
    // Alerts with two actions put cancel on the left; sheets set cancel apart below.
    std::vector<int> order;
    for (int i = 0; i < static_cast<int>(actions_.size()); ++i)
        if (!(sheet && actions_[i].style == ActionStyle::Cancel)) order.push_back(i);
    if (!sheet && actions_.size() == 2 && actions_[1].style == ActionStyle::Cancel) std::swap(order[0], order[1]);
    for (int i : order) {
        auto* b = makeButton(actions_[i], box_);
        buttons_[i] = b;
        buttonRow->addWidget(b);
        connect(b, &QPushButton::clicked, this, [this, i] { performAction(i); });
    }
    for (int i = 0; i < static_cast<int>(actions_.size()); ++i) {
        if (!(sheet && actions_[i].style == ActionStyle::Cancel)) continue;
        cancelBox_ = new QWidget(this);
        styleBox(cancelBox_);
        auto* cv = new QVBoxLayout(cancelBox_);
        cv->setContentsMargins(0, 0, 0, 0);
        auto* b = makeButton(actions_[i], cancelBox_);
        b->setStyleSheet(b->styleSheet().replace("border-top: 1px solid palette(mid);", ""));
        buttons_[i] = b;
        cv->addWidget(b);
        connect(b, &QPushButton::clicked, this, [this, i] { performAction(i); });
        break;
    }
    box_->show();
    if (cancelBox_) cancelBox_->show();
    setDefaultButton(buttonForAction(preferredAction()));
    layoutBoxes();
    update();
}

void UIAlertController::setPreferredAction(int index) {
    preferred_ = index;
    if (isViewLoaded()) setDefaultButton(buttonForAction(preferredAction()));
}

int UIAlertController::preferredAction() const {
    const int count = static_cast<int>(actions_.size());
    if (preferred_ >= 0 && preferred_ < count) return preferred_;
    if (style_ != Style::Alert) return -1;
    if (count == 1) return 0;
    int found = -1, defaults = 0;
    for (int i = 0; i < count; ++i)
        if (actions_[i].style == ActionStyle::Default) {
            found = i;
            ++defaults;
        }
    return defaults == 1 ? found : -1;
}

void UIAlertController::performAction(int index) {
    if (acting_ || index < 0 || index >= static_cast<int>(actions_.size())) return;
    acting_ = true;
    auto handler = actions_[index].handler;
    dismissViewController(true, [handler] {
        if (handler) handler();
    });
}

void UIAlertController::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 0, 90));
}

void UIAlertController::resizeEvent(QResizeEvent* e) {
    UIViewController::resizeEvent(e);
    layoutBoxes();
}

void UIAlertController::layoutBoxes() {
    // The popup has no layout of its own: the boxes float over the dimmed screen.
    if (!box_) return;
    if (style_ == Style::Alert) {
        const int w = std::min(300, width() - 40);
        const int h = box_->heightForWidth(w) > 0 ? box_->heightForWidth(w) : box_->sizeHint().height();
        box_->setGeometry((width() - w) / 2, (height() - h) / 2, w, h);
    } else {
        const int w = std::min(440, width() - 16);
        int bottom = height() - 8;
        if (cancelBox_) {
            const int ch = cancelBox_->sizeHint().height();
            cancelBox_->setGeometry((width() - w) / 2, bottom - ch, w, ch);
            bottom -= ch + 8;
        }
        const int h = box_->heightForWidth(w) > 0 ? box_->heightForWidth(w) : box_->sizeHint().height();
        box_->setGeometry((width() - w) / 2, bottom - h, w, h);
    }
}

void UIAlertController::mousePressEvent(QMouseEvent* e) {
    if (style_ == Style::ActionSheet && box_ && !box_->geometry().contains(e->position().toPoint()) &&
        !(cancelBox_ && cancelBox_->geometry().contains(e->position().toPoint()))) {
        for (int i = 0; i < static_cast<int>(actions_.size()); ++i)
            if (actions_[i].style == ActionStyle::Cancel) {
                performAction(i);
                return;
            }
    }
    e->accept();
}

void UIAlertController::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        for (int i = 0; i < static_cast<int>(actions_.size()); ++i)
            if (actions_[i].style == ActionStyle::Cancel) {
                performAction(i);
                return;
            }
    }
    UIViewController::keyPressEvent(e);
}
