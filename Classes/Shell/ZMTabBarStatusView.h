#pragma once
// The status display floating above the tab bar: how many packages are in
// the queue (a live query of "isInTheQueue = 1", recounted after every
// committed change of the package records) and what the running tasks are
// doing (the pipeline's queued/status/progress/finished notifications).
// Hidden while nothing is queued or running; a click opens the queue.
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "Database/ZMRPackage.h"
#include "Notifications/NotificationCenter.h"

class ZMTabBarStatusView : public QWidget {
    Q_OBJECT
public:
    explicit ZMTabBarStatusView(QWidget* parent = nullptr);

    // Starts following the database and the pipeline (the database must be open).
    void start();

    size_t queuedCount() const { return queued_; }
    size_t runningTaskCount() const { return tasks_.size(); }
    // The two lines shown; the second is empty without a running task.
    QString titleText() const { return title_; }
    QString detailText() const { return detail_; }
    // The mean progress of the running tasks (0..1), those of the same burst
    // that ended counting as 1; nullopt without a running task.
    std::optional<double> progress() const;
    bool shouldShow() const { return queued_ > 0 || !tasks_.empty(); }

    QSize sizeHint() const override;

signals:
    void tapped();

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    struct TaskState {
        std::string taskID;
        std::string title;
        std::string status;
        double progress = 0;
    };
    void recount();
    void taskQueued(const Notification& n);
    void taskChanged(const Notification& n, bool progressOnly);
    void taskFinished(const Notification& n);
    TaskState* find(const std::string& taskID);
    void refresh();

    std::optional<Results<ZMRPackage>> queuedResults_;
    NotificationToken queuedToken_;
    ObserverBag observers_;
    std::vector<TaskState> tasks_;
    size_t finishedInBurst_ = 0;  // tasks that ended while others of theirs still run
    size_t queued_ = 0;
    QString title_, detail_;
};
