#include "ZMTabBarStatusView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "ZMPaletteManager.h"
#include "ZMPipelineManager.h"

namespace {
QString fillCount(const std::string& format, size_t n) {
    QString text = QString::fromStdString(format);
    return text.replace(QStringLiteral("%lu"), QString::number(n));
}
}  // namespace

ZMTabBarStatusView::ZMTabBarStatusView(QWidget* parent) : QWidget(parent) {
    setObjectName("tabBarStatusView");
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_TranslucentBackground);
    hide();
}

void ZMTabBarStatusView::start() {
    using Q = NotificationCenter::Queue;
    auto& center = NotificationCenter::defaultCenter();
    QPointer<ZMTabBarStatusView> self(this);
    // Queued goes out on the thread that queued the task: observed on the main one.
    observers_.add(center.addObserver(ZMPipelineTaskQueuedNotification, Q::Main, [self](const Notification& n) {
        if (self) self->taskQueued(n);
    }));
    observers_.add(center.addObserver(ZMPipelineTaskStatusNotification, Q::Main, [self](const Notification& n) {
        if (self) self->taskChanged(n, false);
    }));
    observers_.add(center.addObserver(ZMPipelineTaskProgressNotification, Q::Main, [self](const Notification& n) {
        if (self) self->taskChanged(n, true);
    }));
    observers_.add(center.addObserver(ZMPipelineTaskFinishedNotification, Q::Main, [self](const Notification& n) {
        if (self) self->taskFinished(n);
    }));
    // Tasks queued before the display existed.
    for (const auto& task : ZMPipelineManager::sharedManager().runningTasks()) {
        if (!task) continue;
        tasks_.push_back({task->taskID(), task->taskLocalizedTitle(), task->taskDescription(), task->taskProgress()});
    }
    try {
        queuedResults_.emplace(ZMRPackage::objectsWhere("isInTheQueue = 1"));
        queuedToken_ = queuedResults_->addNotificationBlock([self](const Results<ZMRPackage>&) {
            if (self) self->recount();
        });
    } catch (const std::exception& e) {
        ZMLOG("the queue count is unavailable: {}", e.what());
    }
    recount();
}

void ZMTabBarStatusView::recount() {
    try {
        queued_ = queuedResults_ ? queuedResults_->count() : 0;
    } catch (const std::exception& e) {
        ZMLOG("queue count failed: {}", e.what());
        queued_ = 0;
    }
    refresh();
}

ZMTabBarStatusView::TaskState* ZMTabBarStatusView::find(const std::string& taskID) {
    for (auto& t : tasks_)
        if (t.taskID == taskID) return &t;
    return nullptr;
}

void ZMTabBarStatusView::taskQueued(const Notification& n) {
    const auto& info = n.userInfo;
    if (!info.is_object() || !info.contains("taskID")) return;
    const std::string id = info.value("taskID", "");
    // The notice hops to the main thread after the task was queued: a quick
    // task may have finished (and its finished notice gone by) meanwhile.
    if (find(id) || !ZMPipelineManager::sharedManager().isTaskLive(id)) return;
    TaskState t;
    t.taskID = id;
    t.title = info.value("title", "");
    t.status = info.value("status", "");
    tasks_.push_back(std::move(t));
    refresh();
}

void ZMTabBarStatusView::taskChanged(const Notification& n, bool progressOnly) {
    const auto& info = n.userInfo;
    if (!info.is_object()) return;
    const std::string id = info.value("taskID", "");
    TaskState* t = find(id);
    if (!t) {
        // A status can overtake the queued notice of its own task.
        if (!ZMPipelineManager::sharedManager().isTaskLive(id)) return;
        tasks_.push_back({id, "", "", 0});
        t = &tasks_.back();
    }
    if (progressOnly) {
        if (info.contains("progress") && info["progress"].is_number())
            t->progress = std::clamp(info["progress"].get<double>(), 0.0, 1.0);
    } else {
        t->status = info.value("status", t->status);
    }
    refresh();
}

void ZMTabBarStatusView::taskFinished(const Notification& n) {
    const auto& info = n.userInfo;
    if (!info.is_object()) return;
    const std::string id = info.value("taskID", "");
    if (std::erase_if(tasks_, [&](const TaskState& t) { return t.taskID == id; }) > 0) ++finishedInBurst_;
    if (tasks_.empty()) finishedInBurst_ = 0;
    refresh();
}

std::optional<double> ZMTabBarStatusView::progress() const {
    if (tasks_.empty()) return std::nullopt;
    // The tasks of this burst that ended count as complete: the bar never goes back.
    double sum = static_cast<double>(finishedInBurst_);
    for (const auto& t : tasks_) sum += t.progress;
    return sum / static_cast<double>(tasks_.size() + finishedInBurst_);
}

void ZMTabBarStatusView::refresh() {
    if (queued_ > 0)
        title_ = queued_ == 1 ? QString::fromStdString(ZMLocalizedString("1 package queued"))
                              : fillCount(ZMLocalizedString("%lu packages queued"), queued_);
    else if (!tasks_.empty())
        title_ = tasks_.size() == 1 ? QString::fromStdString(ZMLocalizedString("1 task running"))
                                    : fillCount(ZMLocalizedString("%lu tasks running"), tasks_.size());
    else
        title_.clear();
    detail_.clear();
    if (!tasks_.empty()) {
        const TaskState& first = tasks_.front();
        detail_ = QString::fromStdString(!first.status.empty() ? first.status : first.title);
        if (tasks_.size() > 1 && queued_ > 0)
            detail_ = fillCount(ZMLocalizedString("%lu tasks running"), tasks_.size()) + QStringLiteral(" · ") + detail_;
    }
    setToolTip(detail_.isEmpty() ? title_ : title_ + "\n" + detail_);
    const bool show = shouldShow();
    if (show != isVisible()) setVisible(show);
    updateGeometry();
    // The tab bar places the view by its size hint.
    if (parentWidget()) {
        const QSize s = sizeHint();
        if (size() != s) {
            const QRect g = geometry();
            setGeometry(g.center().x() - s.width() / 2, g.bottom() + 1 - s.height(), s.width(), s.height());
        }
    }
    update();
}

QSize ZMTabBarStatusView::sizeHint() const { return {280, detail_.isEmpty() ? 40 : 52}; }

void ZMTabBarStatusView::paintEvent(QPaintEvent*) {
    const ZMPalette palette = ZMPaletteManager::sharedManager().palette();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
    const double radius = std::min(r.height() / 2, 20.0);
    QPainterPath pill;
    pill.addRoundedRect(r, radius, radius);
    QColor shadow = palette.shadowColor();
    shadow.setAlphaF(0.18);
    p.fillPath(pill.translated(0, 1), shadow);
    p.fillPath(pill, palette.tintColor());
    if (auto pr = progress()) {
        // The progress fills the pill from the left in a lighter shade.
        p.save();
        p.setClipPath(pill);
        QColor band = palette.tintColor().lighter(130);
        p.fillRect(QRectF(r.left(), r.top(), r.width() * *pr, r.height()), band);
        p.restore();
    }
    p.setPen(Qt::white);
    QFont bold = font();
    bold.setBold(true);
    p.setFont(bold);
    const QFontMetrics fm(bold);
    if (detail_.isEmpty()) {
        p.drawText(r, Qt::AlignCenter, fm.elidedText(title_, Qt::ElideRight, int(r.width()) - 24));
        return;
    }
    const QRectF top(r.left() + 12, r.top() + 6, r.width() - 24, r.height() / 2 - 4);
    const QRectF bottom(r.left() + 12, r.center().y() + 1, r.width() - 24, r.height() / 2 - 7);
    p.drawText(top, Qt::AlignCenter, fm.elidedText(title_, Qt::ElideRight, int(top.width())));
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    p.setFont(small);
    p.drawText(bottom, Qt::AlignCenter, QFontMetrics(small).elidedText(detail_, Qt::ElideRight, int(bottom.width())));
}

void ZMTabBarStatusView::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) emit tapped();
}
