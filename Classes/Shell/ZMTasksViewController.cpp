#include "ZMTasksViewController.h"

#include <QProgressBar>
#include <algorithm>
#include <QVBoxLayout>

#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLocalization.h"
#include "SegmentedViewController.h"
#include "UIKit/UINavigationController.h"
#include "ZMPipelineManager.h"

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

std::string jsonText(const nlohmann::json& info, const char* key) {
    if (info.is_object() && info.contains(key) && info[key].is_string()) return info[key].get<std::string>();
    return {};
}

// A task's title, else its object (a download has no title of its own: the
// package names it), else its description, which is what a task with
// neither asks for.
std::string titleOf(const std::string& title, const std::string& objectName, const std::string& description) {
    return !title.empty() ? title : !objectName.empty() ? objectName : description;
}

// One task's row: title, status line and a progress bar.
class TaskCell : public UITableViewCell {
public:
    TaskCell() : UITableViewCell("task") {
        auto* layout = new QVBoxLayout(contentView());
        layout->setContentsMargins(16, 6, 16, 6);
        layout->setSpacing(3);
        title = new QLabel(contentView());
        QFont f = title->font();
        f.setBold(true);
        title->setFont(f);
        status = new QLabel(contentView());
        status->setWordWrap(true);  // an error says in full what happened
        progress = new QProgressBar(contentView());
        progress->setRange(0, 1000);
        progress->setTextVisible(false);
        progress->setFixedHeight(6);
        layout->addWidget(title);
        layout->addWidget(status);
        layout->addWidget(progress);
        setSelectionStyle(SelectionStyle::None);
    }
    QLabel* title;
    QLabel* status;
    QProgressBar* progress;
};

}  // namespace

// ---- tasks ------------------------------------------------------------------

ZMTasksViewController::History& ZMTasksViewController::History::shared() {
    static History* history = new History;  // lives as long as the process, as its observers
    return *history;
}

ZMTasksViewController::History::History() {
    // The tasks already live when the history starts.
    for (const auto& task : ZMPipelineManager::sharedManager().runningTasks()) {
        TaskRow row;
        row.taskID = task->taskID();
        row.pipelineID = task->pipelineID();
        row.title = titleOf(task->taskLocalizedTitle(), task->taskLocalizedObjectName(), task->taskDescription());
        row.status = task->taskDescription();
        row.progress = task->taskProgress();
        rows_.push_back(row);
    }
    auto& center = NotificationCenter::defaultCenter();
    using Q = NotificationCenter::Queue;
    observers_.add(center.addObserver(ZMPipelineTaskQueuedNotification, Q::Main, [this](const Notification& n) {
        // A new burst of work: what ended before it is no longer news.
        const bool idle = std::none_of(rows_.begin(), rows_.end(),
                                       [](const TaskRow& r) { return r.state == TaskRow::State::Running; });
        if (idle) rows_.clear();
        TaskRow& row = rowFor(n);
        row.status = jsonText(n.userInfo, "status");
        const std::string title =
            titleOf(jsonText(n.userInfo, "title"), jsonText(n.userInfo, "objectName"), row.status);
        if (!title.empty()) row.title = title;
        changed();
    }));
    observers_.add(center.addObserver(ZMPipelineTaskStatusNotification, Q::Main, [this](const Notification& n) {
        rowFor(n).status = jsonText(n.userInfo, "status");
        changed();
    }));
    observers_.add(center.addObserver(ZMPipelineTaskProgressNotification, Q::Main, [this](const Notification& n) {
        TaskRow& row = rowFor(n);
        // A late report does not take a finished task's bar back.
        if (row.state != TaskRow::State::Running) return;
        if (n.userInfo.is_object() && n.userInfo.contains("progress") && n.userInfo["progress"].is_number())
            row.progress = std::clamp(n.userInfo["progress"].get<double>(), 0.0, 1.0);
        changed();
    }));
    observers_.add(center.addObserver(ZMPipelineTaskFinishedNotification, Q::Main, [this](const Notification& n) {
        TaskRow& row = rowFor(n);
        const auto& info = n.userInfo;
        bool success = info.is_object() && info.value("success", false);
        bool cancelled = info.is_object() && info.value("cancelled", false);
        row.state = success ? TaskRow::State::Done : cancelled ? TaskRow::State::Cancelled : TaskRow::State::Failed;
        if (success) row.progress = 1.0;
        if (!success && info.is_object() && info.contains("error") && info["error"].is_object())
            row.error = jsonText(info["error"], "message");
        changed();
    }));
}

ZMTasksViewController::TaskRow& ZMTasksViewController::History::rowFor(const Notification& n) {
    std::string taskID = jsonText(n.userInfo, "taskID");
    for (auto& row : rows_)
        if (row.taskID == taskID) return row;
    TaskRow row;
    row.taskID = taskID;
    row.pipelineID = jsonText(n.userInfo, "pipelineID");
    row.title = jsonText(n.userInfo, "title");
    rows_.push_back(row);
    return rows_.back();
}

uint64_t ZMTasksViewController::History::listen(std::function<void()> changed) {
    const uint64_t id = nextListener_++;
    listeners_[id] = std::move(changed);
    return id;
}

void ZMTasksViewController::History::removeListener(uint64_t id) { listeners_.erase(id); }

void ZMTasksViewController::History::clear() {
    rows_.clear();
    changed();
}

void ZMTasksViewController::History::changed() {
    auto listeners = listeners_;  // a listener may remove itself
    for (auto& [id, listener] : listeners) listener();
}

ZMTasksViewController::ZMTasksViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    setTitle(qs(ZMLocalizedString("Tasks")));
    rows_ = History::shared().rows();
    listener_ = History::shared().listen([this] { historyChanged(); });
}

ZMTasksViewController::~ZMTasksViewController() { History::shared().removeListener(listener_); }

void ZMTasksViewController::historyChanged() {
    rows_ = History::shared().rows();
    if (!table_) return;
    emptyLbl_->setVisible(rows_.empty());
    table_->reloadData();
}

UINavigationController* ZMTasksViewController::makeTaskScreens() {
    auto* tasks = new ZMTasksViewController;
    auto* console = new ZMConsoleViewController;
    auto* segmented = new SegmentedViewController(
        {tasks, console}, {qs(ZMLocalizedString("Tasks")), qs(ZMLocalizedString("Console"))}, 0);
    segmented->setTitle(qs(ZMLocalizedString("Tasks")));
    auto* nav = new UINavigationController(segmented);
    segmented->navigationItem()->setLeftBarButtonItem(new UIBarButtonItem(
        qs(ZMLocalizedString("Close")), [nav](UIBarButtonItem*) { nav->dismissViewController(true); },
        segmented->navigationItem()));
    nav->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
    return nav;
}

const ZMTasksViewController::TaskRow* ZMTasksViewController::rowForTask(const std::string& taskID) const {
    for (const auto& row : rows_)
        if (row.taskID == taskID) return &row;
    return nullptr;
}

void ZMTasksViewController::viewDidLoad() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    emptyLbl_ = new QLabel(qs(ZMLocalizedString("No tasks have run yet.")), this);
    emptyLbl_->setAlignment(Qt::AlignCenter);
    emptyLbl_->setVisible(rows_.empty());
    layout->addWidget(emptyLbl_);
    table_ = new UITableView(UITableView::Style::Plain, this);
    table_->setObjectName("tasksTable");
    table_->registerCell("task", [] { return new TaskCell; });
    table_->setDataSource(this);
    table_->setDelegate(this);
    layout->addWidget(table_, 1);
}

int ZMTasksViewController::numberOfRows(UITableView*, int) { return static_cast<int>(rows_.size()); }

UITableViewCell* ZMTasksViewController::cellForRow(UITableView* table, IndexPath ip) {
    auto* cell = static_cast<TaskCell*>(table->dequeueReusableCell("task"));
    const TaskRow& row = rows_.at(ip.row);
    cell->title->setText(qs(row.title.empty() ? row.taskID : row.title));
    QString status = qs(row.status);
    QColor statusColor = palette().secondaryTextColor();
    switch (row.state) {
        case TaskRow::State::Running: break;
        case TaskRow::State::Done:
            status = qs(ZMLocalizedString("Done"));
            break;
        case TaskRow::State::Cancelled: status = qs(ZMLocalizedString("Cancelled")); break;
        case TaskRow::State::Failed:
            status = qs(row.error.empty() ? ZMLocalizedString("Failed") : row.error);
            statusColor = QColor(Qt::red);
            break;
    }
    cell->status->setText(status);
    cell->status->setStyleSheet(QString("color: %1").arg(statusColor.name()));
    cell->progress->setValue(row.state == TaskRow::State::Done ? 1000 : static_cast<int>(row.progress * 1000));
    // Drawn by us: the platform's style leaves a bar this thin an empty frame.
    cell->progress->setStyleSheet(QString("QProgressBar { border: none; border-radius: 3px; background: %1; }"
                                          "QProgressBar::chunk { border-radius: 3px; background: %2; }")
                                      .arg(palette().separatorColor().name(), palette().tintColor().name()));
    return cell;
}

void ZMTasksViewController::paletteDidChange(const ZMPalette& p) {
    if (!table_) return;
    table_->setBackgroundColor(p.backgroundColor());
    table_->reloadData();
}

// ---- console ------------------------------------------------------------------

ZMConsoleViewController::Store& ZMConsoleViewController::Store::shared() {
    static Store* store = new Store;  // lives as long as the process; notifications may still arrive at exit
    return *store;
}

ZMConsoleViewController::Store::Store() {
    token_ = NotificationCenter::defaultCenter().addObserver(
        ZMUpdateVerboseViewNotification, NotificationCenter::Queue::Posting, [this](const Notification& n) {
            Line line;
            line.message = jsonText(n.userInfo, "Message");
            line.isError = n.userInfo.is_object() && n.userInfo.value("Error", false);
            append(std::move(line));
        });
}

std::vector<ZMConsoleViewController::Line> ZMConsoleViewController::Store::lines() const {
    std::lock_guard lock(mutex_);
    return {lines_.begin(), lines_.end()};
}

void ZMConsoleViewController::Store::append(Line line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
    while (lines_.size() > kMaximumLines) lines_.pop_front();
    for (auto& [id, listener] : listeners_) listener(line);
}

void ZMConsoleViewController::Store::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

uint64_t ZMConsoleViewController::Store::snapshotAndListen(std::vector<Line>& snapshot,
                                                           std::function<void(const Line&)> listener) {
    std::lock_guard lock(mutex_);
    snapshot.assign(lines_.begin(), lines_.end());
    uint64_t id = nextListener_++;
    listeners_[id] = std::move(listener);
    return id;
}

void ZMConsoleViewController::Store::removeListener(uint64_t id) {
    std::lock_guard lock(mutex_);
    listeners_.erase(id);
}

ZMConsoleViewController::ZMConsoleViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    setTitle(qs(ZMLocalizedString("Console")));
}

ZMConsoleViewController::~ZMConsoleViewController() {
    if (listener_) Store::shared().removeListener(listener_);
}

void ZMConsoleViewController::viewDidLoad() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    text_ = new QPlainTextEdit(this);
    text_->setObjectName("consoleText");
    text_->setReadOnly(true);
    text_->setMaximumBlockCount(static_cast<int>(Store::kMaximumLines));
    text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QFont mono("monospace");
    mono.setStyleHint(QFont::Monospace);
    text_->setFont(mono);
    layout->addWidget(text_);
    std::vector<Line> snapshot;
    QPointer<ZMConsoleViewController> self(this);
    listener_ = Store::shared().snapshotAndListen(snapshot, [self](const Line& line) {
        Dispatch::main([self, line] {
            if (self) self->appendLine(line);
        });
    });
    for (const auto& line : snapshot) appendLine(line);
}

void ZMConsoleViewController::appendLine(const Line& line) {
    if (!text_) return;
    // Lines are text, never markup: apt output may hold "<" and "&".
    QString escaped = qs(line.message).toHtmlEscaped();
    if (line.isError)
        text_->appendHtml("<span style=\"color:#e0342b\">" + escaped + "</span>");
    else
        text_->appendHtml("<span>" + escaped + "</span>");
}

void ZMConsoleViewController::paletteDidChange(const ZMPalette& p) {
    if (!text_) return;
    QPalette qp = text_->palette();
    qp.setColor(QPalette::Base, p.cellBackgroundColor());
    qp.setColor(QPalette::Text, p.primaryTextColor());
    text_->setPalette(qp);
}
