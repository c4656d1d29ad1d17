#pragma once
// The task screens: the tasks of the pipeline with their status and progress
// (from the pipeline's notifications), and the verbose console of
// "UpdateVerboseView" lines. The tasks are those of the latest burst of work:
// a finished task stays listed, marked done or failed with its error, until
// a task is queued while none runs; so a screen opened after a run (or after
// its failure) still tells how it ended.
#include <QPlainTextEdit>
#include <deque>
#include <functional>
#include <QLabel>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Notifications/NotificationCenter.h"
#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class UINavigationController;

class ZMTasksViewController : public ZMPalettedViewController, public UITableViewDataSource, public UITableViewDelegate {
    Q_OBJECT
public:
    struct TaskRow {
        std::string taskID;
        std::string pipelineID;
        std::string title;
        std::string status;
        double progress = 0;
        enum class State { Running, Done, Failed, Cancelled } state = State::Running;
        std::string error;
    };

    // The rows, kept from the first use (the shell starts it at launch) on
    // the main thread, whether or not a task screen is open.
    class History {
    public:
        static History& shared();
        const std::vector<TaskRow>& rows() const { return rows_; }
        // `changed` runs on the main thread after any row changed.
        uint64_t listen(std::function<void()> changed);
        void removeListener(uint64_t id);
        void clear();

    private:
        History();
        TaskRow& rowFor(const Notification& n);
        void changed();
        std::vector<TaskRow> rows_;
        std::map<uint64_t, std::function<void()>> listeners_;
        uint64_t nextListener_ = 1;
        ObserverBag observers_;
    };

    explicit ZMTasksViewController(QWidget* parent = nullptr);
    ~ZMTasksViewController() override;

    // The tasks and the console behind a segmented control, in a navigation
    // controller with a "Close" button: what the status display and a
    // confirmed queue present.
    static UINavigationController* makeTaskScreens();

    const std::vector<TaskRow>& rows() const { return rows_; }
    const TaskRow* rowForTask(const std::string& taskID) const;
    UITableView* tableView() const { return table_; }

    int numberOfRows(UITableView*, int) override;
    UITableViewCell* cellForRow(UITableView*, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath) override { return UITableView::kAutomaticDimension; }
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;

private:
    void historyChanged();
    std::vector<TaskRow> rows_;
    uint64_t listener_ = 0;
    UITableView* table_ = nullptr;
    QLabel* emptyLbl_ = nullptr;
};

// The console. Lines are kept from the first use of the console store (the
// shell starts it at launch) so that opening the console later shows what
// the last tasks said.
class ZMConsoleViewController : public ZMPalettedViewController {
    Q_OBJECT
public:
    struct Line {
        std::string message;
        bool isError = false;
    };
    // The lines since the store started, the oldest dropped beyond kMaximumLines.
    class Store {
    public:
        static Store& shared();
        static constexpr size_t kMaximumLines = 5000;
        std::vector<Line> lines() const;
        void append(Line line);
        void clear();
        // The lines so far, and every later line to `listener` (on the
        // appending thread); no line is missed or given twice. Returns an id
        // for removeListener.
        uint64_t snapshotAndListen(std::vector<Line>& snapshot, std::function<void(const Line&)> listener);
        void removeListener(uint64_t id);

    private:
        Store();
        mutable std::mutex mutex_;
        std::deque<Line> lines_;
        std::map<uint64_t, std::function<void(const Line&)>> listeners_;
        uint64_t nextListener_ = 1;
        ObserverToken token_;
    };

    explicit ZMConsoleViewController(QWidget* parent = nullptr);
    ~ZMConsoleViewController() override;
    QPlainTextEdit* textView() const { return text_; }
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;

private:
    void appendLine(const Line& line);
    QPlainTextEdit* text_ = nullptr;
    uint64_t listener_ = 0;
};
