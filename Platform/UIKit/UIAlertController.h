#pragma once
// Alerts (a centred box) and action sheets (a list rising from the bottom),
// presented like any screen:  presenter->presentViewController(alert, true).
// A button dismisses the popup, then runs its handler. Escape picks the
// cancel action, and so does a click beside an action sheet. Return picks the
// preferred action: the one set, else an alert's only action or its only
// action of the default style (a sheet of choices has none).
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <vector>

#include "UIKit/UIViewController.h"

class QVBoxLayout;

class UIAlertController : public UIViewController {
    Q_OBJECT
public:
    enum class Style { Alert, ActionSheet };
    enum class ActionStyle { Default, Cancel, Destructive };
    struct Action {
        QString title;
        ActionStyle style = ActionStyle::Default;
        std::function<void()> handler;
    };

    UIAlertController(const QString& title, const QString& message, Style style, QWidget* parent = nullptr);
    static UIAlertController* alertControllerWithTitle(const QString& title, const QString& message, Style style) {
        return new UIAlertController(title, message, style);
    }

    void addAction(const QString& title, ActionStyle style, std::function<void()> handler = {});
    // Alerts only: a text field, configured by `configure`.
    QLineEdit* addTextField(const std::function<void(QLineEdit*)>& configure = {});
    const std::vector<QLineEdit*>& textFields() const { return textFields_; }
    const std::vector<Action>& actions() const { return actions_; }
    QPushButton* buttonForAction(int index) const;
    Style preferredStyle() const { return style_; }
    QString alertTitle() const { return title_; }
    QString message() const { return message_; }
    // Picks an action as a click on its button does.
    void performAction(int index);
    void setPreferredAction(int index);
    // -1: none.
    int preferredAction() const;

protected:
    void viewDidLoad() override;
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void build();
    void layoutBoxes();
    QString title_, message_;
    Style style_;
    std::vector<Action> actions_;
    std::vector<QPushButton*> buttons_;
    std::vector<QLineEdit*> textFields_;
    QWidget* box_ = nullptr;
    QWidget* cancelBox_ = nullptr;
    bool acting_ = false;
    int preferred_ = -1;
};
