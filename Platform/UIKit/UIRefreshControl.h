#pragma once
// Pull to refresh: attached to a table with UITableView::setRefreshControl.
// Pulling past the top (a touch overscroll, or the wheel turned upwards while
// the list is already at the top) starts it and emits valueChanged(); the
// owner calls endRefreshing() when done.
#include <QWidget>

class QTimer;

class UIRefreshControl : public QWidget {
    Q_OBJECT
public:
    explicit UIRefreshControl(QWidget* parent = nullptr);
    bool isRefreshing() const { return refreshing_; }
    // Shows the spinner without emitting valueChanged (a refresh started elsewhere).
    void beginRefreshing();
    void endRefreshing();
    void setTintColor(const QColor& c);
    static constexpr int kHeight = 44;

    // Used by the table when the user pulls far enough.
    void triggerByUser();

signals:
    void valueChanged();
    void refreshingChanged(bool refreshing);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    bool refreshing_ = false;
    int angle_ = 0;
    QTimer* spin_;
    QColor tint_{128, 128, 128};
};
