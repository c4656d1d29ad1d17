#include "ErrorViewController.h"

#include <QKeyEvent>
#include <QPainter>

#include "ui_ErrorViewController.h"

ErrorViewController::ErrorViewController(QWidget* parent)
    : ZMPalettedViewController(parent), ui_(std::make_unique<Ui::ErrorViewController>()) {
    setModalPresentationStyle(ModalPresentationStyle::OverFullScreen);
    setFocusPolicy(Qt::StrongFocus);
    loadViewIfNeeded();
}

ErrorViewController::~ErrorViewController() = default;

void ErrorViewController::viewDidLoad() {
    ui_->setupUi(this);
    ui_->box->setObjectName("errorBox");
    ui_->box->setAttribute(Qt::WA_StyledBackground);
    QFont f = ui_->titleLbl->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.15);
    ui_->titleLbl->setFont(f);
    // Titles and messages often carry a server's or a repository's text:
    // shown as written, never read as markup.
    ui_->titleLbl->setTextFormat(Qt::PlainText);
    ui_->messageLbl->setTextFormat(Qt::PlainText);
    for (auto* b : {ui_->closeBtn, ui_->otherBtn}) {
        b->setCursor(Qt::PointingHandCursor);
        b->setMinimumHeight(38);
    }
    ui_->otherBtn->hide();
    // Messages carry servers' texts (a store's error): never read as markup.
    ui_->titleLbl->setTextFormat(Qt::PlainText);
    ui_->messageLbl->setTextFormat(Qt::PlainText);
    connect(ui_->closeBtn, &QPushButton::clicked, this, &ErrorViewController::closeTapped);
    connect(ui_->otherBtn, &QPushButton::clicked, this, &ErrorViewController::otherTapped);
}

void ErrorViewController::fill(const std::string& title, const std::optional<std::string>& message, int buttons,
                               const std::string& closeText, const std::optional<std::string>& otherText) {
    ui_->titleLbl->setText(QString::fromStdString(title));
    ui_->messageLbl->setText(message ? QString::fromStdString(*message) : QString());
    ui_->messageLbl->setVisible(message.has_value() && !message->empty());
    ui_->closeBtn->setText(QString::fromStdString(closeText));
    // Two buttons need a second text; without one the popup keeps one button.
    const bool two = buttons >= 2 && otherText.has_value();
    ui_->otherBtn->setText(two ? QString::fromStdString(*otherText) : QString());
    ui_->otherBtn->setVisible(two);
    updateDefaultButton();
}

void ErrorViewController::setCloseIsDefault(bool closeIsDefault) {
    closeIsDefault_ = closeIsDefault;
    updateDefaultButton();
}

void ErrorViewController::updateDefaultButton() {
    setDefaultButton(ui_->otherBtn->isHidden() || closeIsDefault_ ? ui_->closeBtn : ui_->otherBtn);
}

void ErrorViewController::showWithTitle(const std::string& title, const std::optional<std::string>& errorMessage,
                                        int numberOfButtons, const std::string& closeButtonText,
                                        const std::optional<std::string>& otherButtonText, Selector otherButtonSelector) {
    fill(title, errorMessage, numberOfButtons, closeButtonText, otherButtonText);
    selector_ = std::move(otherButtonSelector);
    action_ = nullptr;
}

void ErrorViewController::showWithTitle(const std::string& title, const std::optional<std::string>& errorMessage,
                                        int numberOfButtons, const std::string& closeButtonText,
                                        const std::optional<std::string>& otherButtonText, Action otherButtonAction) {
    fill(title, errorMessage, numberOfButtons, closeButtonText, otherButtonText);
    action_ = std::move(otherButtonAction);
    selector_ = nullptr;
}

void ErrorViewController::setDelegate(ZMErrorDelegate* delegate) {
    delegate_ = delegate;
    delegateAlive_ = delegate ? delegate->errorDelegateLifetime() : std::weak_ptr<bool>();
}

ZMErrorDelegate* ErrorViewController::delegate() const {
    auto alive = delegateAlive_.lock();
    return alive && *alive ? delegate_ : nullptr;
}

QLabel* ErrorViewController::titleLbl() const { return ui_->titleLbl; }
QLabel* ErrorViewController::messageLbl() const { return ui_->messageLbl; }
QPushButton* ErrorViewController::closeBtn() const { return ui_->closeBtn; }
QPushButton* ErrorViewController::otherBtn() const { return ui_->otherBtn; }

void ErrorViewController::closeTapped() {
    if (done_) return;
    done_ = true;
    dismissViewController(true);
}

void ErrorViewController::otherTapped() {
    if (done_) return;
    done_ = true;
    // Taken now: the popup is deleted after the dismissal.
    auto selector = selector_;
    auto action = action_;
    ZMErrorDelegate* target = delegate();
    std::weak_ptr<bool> alive = delegateAlive_;
    dismissViewController(true, [selector, action, target, alive] {
        if (selector) {
            auto still = alive.lock();
            if (target && still && *still) selector(*target);
        } else if (action) {
            action();
        }
    });
}

void ErrorViewController::paletteDidChange(const ZMPalette& p) {
    setAutoFillBackground(false);
    ui_->box->setStyleSheet(QStringLiteral("#errorBox { background: %1; border-radius: 16px; }").arg(p.cellBackgroundColor().name()));
    ui_->titleLbl->setStyleSheet(QStringLiteral("color: %1;").arg(p.primaryTextColor().name()));
    ui_->messageLbl->setStyleSheet(QStringLiteral("color: %1;").arg(p.secondaryTextColor().name()));
    const QString button = QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 10px; "
                                          "padding: 6px 14px; font-weight: bold; }");
    ui_->closeBtn->setStyleSheet(button.arg(p.highlightColor().name(), p.primaryTextColor().name()));
    ui_->otherBtn->setStyleSheet(button.arg(p.tintColor().name(), "#ffffff"));
}

void ErrorViewController::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 0, 110));
}

void ErrorViewController::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        closeTapped();
        return;
    }
    ZMPalettedViewController::keyPressEvent(e);
}
