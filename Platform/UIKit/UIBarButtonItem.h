#pragma once
// A button of a navigation bar: a title or an icon with an action, or any
// widget of the screen's own (a segmented control, a spinner...).
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

class UIBarButtonItem : public QObject {
    Q_OBJECT
public:
    using Action = std::function<void(UIBarButtonItem*)>;
    enum class Style { Plain, Done };

    UIBarButtonItem(const QString& title, Action action, QObject* parent = nullptr);
    UIBarButtonItem(const QIcon& icon, Action action, QObject* parent = nullptr);
    // The bar shows the widget as it is; the item does not own it until shown.
    explicit UIBarButtonItem(QWidget* customView, QObject* parent = nullptr);

    QString title() const { return title_; }
    void setTitle(const QString& title);
    QIcon icon() const { return icon_; }
    void setIcon(const QIcon& icon);
    QWidget* customView() const { return customView_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    Style style() const { return style_; }
    void setStyle(Style style);
    void setAction(Action action) { action_ = std::move(action); }

    // Runs the action as a tap would; `sourceWidget` anchors popups.
    void trigger();
    // The widget that shows the item in the bar (set by the bar).
    QWidget* buttonWidget() const { return button_; }
    void setButtonWidget(QWidget* w) { button_ = w; }

signals:
    void changed();

private:
    QString title_;
    QIcon icon_;
    QPointer<QWidget> customView_;
    QPointer<QWidget> button_;
    Action action_;
    bool enabled_ = true;
    Style style_ = Style::Plain;
};
