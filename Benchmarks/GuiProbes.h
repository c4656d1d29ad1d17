#pragma once
// The GUI thread's stalls, for the interface benchmarks (offscreen):
//   - ProbedApplication times each top-level event dispatch, to name the
//     slowest one;
//   - StallProbe: a 5 ms timer on the GUI loop; the lateness of each tick is
//     how long the loop could not run (whatever held it: an event, a posted
//     block, a layout), with the thread's CPU time and its switches over the
//     worst tick, and the resident memory sampled every 20th tick.
// The benchmark's own checks on the GUI thread add to gDriverNs and are left
// out of both.
//   - ProcessSampler: the resident memory's highest sample and whether the
//     process fell idle; runUntil runs the GUI loop until a check holds.
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace GuiProbes {

// Time the benchmark itself spent on the GUI thread (its checks), which the
// probes leave out: only the program's own work counts.
inline qint64 gDriverNs = 0;

struct Slowest {
    qint64 nanoseconds = 0;
    std::string what;
};

class ProbedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_ > 0) {
            ++depth_;
            const bool handled = QApplication::notify(receiver, event);
            --depth_;
            return handled;
        }
        // The receiver may be gone once the event is handled: its class is read now.
        const char* receiverClass = receiver->metaObject()->className();
        const QEvent::Type type = event->type();
        QElapsedTimer timer;
        timer.start();
        const qint64 driverBefore = gDriverNs;
        ++depth_;
        const bool handled = QApplication::notify(receiver, event);
        --depth_;
        const qint64 spent = timer.nsecsElapsed() - (gDriverNs - driverBefore);
        if (spent > slowest_.nanoseconds) {
            slowest_.nanoseconds = spent;
            slowest_.what = std::string(receiverClass) + "/" + std::to_string(static_cast<int>(type));
        }
        return handled;
    }
    Slowest takeSlowest() { return std::exchange(slowest_, {}); }
    const Slowest& slowest() const { return slowest_; }

private:
    int depth_ = 0;
    Slowest slowest_;
};

// Resident and file-backed (or shared) kilobytes.
inline std::pair<long, long> residentKilobytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0, shared = 0;
    statm >> pages >> resident >> shared;
    const long page = sysconf(_SC_PAGESIZE) / 1024;
    return {resident * page, shared * page};
}

// The process's peak resident memory so far (VmHWM).
inline long peakResidentMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6) / 1024;
    return 0;
}

inline qint64 threadCpuNanoseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<qint64>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// How often the calling thread gave up its CPU: to wait (a lock, a read, a
// sleep) or because the scheduler took it away (a loaded machine).
struct Switches {
    long waits = 0, preempted = 0;
};
inline Switches threadSwitches() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return {usage.ru_nvcsw, usage.ru_nivcsw};
}

// Lateness of a 5 ms timer, with the GUI thread's own CPU time over that
// late tick (near the lateness: the thread was busy; far below: it waited
// on a lock or for a CPU, which its switches over the tick tell apart). Every 20th tick samples the resident memory.
class StallProbe {
public:
    StallProbe() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kTickMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed(), cpu = threadCpuNanoseconds();
            const Switches switches = threadSwitches();
            const qint64 late = now - last_ - kTickMs * 1000000LL;
            if (late > worst_) {
                worst_ = late;
                worstCpu_ = cpu - lastCpu_;
                worstSwitches_ = {switches.waits - lastSwitches_.waits, switches.preempted - lastSwitches_.preempted};
            }
            last_ = now;
            lastCpu_ = cpu;
            lastSwitches_ = switches;
            if (++ticks_ % 20 == 0) sample();
        });
        clock_.start();
        last_ = clock_.nsecsElapsed();
        lastCpu_ = threadCpuNanoseconds();
        lastSwitches_ = threadSwitches();
        timer_.start();
    }
    struct Figures {
        double stallMs = 0, stallCpuMs = 0;
        Switches stallSwitches;
        long highestMb = 0, highestAnonMb = 0;  // the highest sample, and its part not backed by files
    };
    // The benchmark's own work of `ns` on this thread does not make the next tick late.
    void excuse(qint64 ns) {
        last_ += ns;
        lastCpu_ += ns;
    }
    double worstMs() const { return std::max<qint64>(worst_, 0) / 1e6; }
    double worstCpuMs() const { return worstCpu_ / 1e6; }
    Figures take() {
        Figures f;
        f.stallMs = std::max<qint64>(worst_, 0) / 1e6;
        f.stallCpuMs = worstCpu_ / 1e6;
        f.stallSwitches = worstSwitches_;
        worstSwitches_ = {};
        sample();
        f.highestMb = highestKb_ / 1024;
        f.highestAnonMb = highestAnonKb_ / 1024;
        worst_ = worstCpu_ = 0;
        highestKb_ = highestAnonKb_ = 0;
        return f;
    }

private:
    static constexpr int kTickMs = 5;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0, lastCpu_ = 0, worst_ = 0, worstCpu_ = 0;
    Switches lastSwitches_, worstSwitches_;
    long highestKb_ = 0, highestAnonKb_ = 0;
    unsigned ticks_ = 0;
    void sample() {
        const auto [resident, shared] = residentKilobytes();
        if (resident <= highestKb_) return;
        highestKb_ = resident;
        highestAnonKb_ = resident - shared;
    }
};

inline qint64 processCpuNanoseconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<qint64>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// The resident memory's highest sample and the process's CPU time (all its
// threads), every `sampleMs` on the GUI loop (a loop held by the program
// samples late, not never). The process is quiet once its CPU time grew by
// less than `idleGrowthMs` over the last `quietMs`.
class ProcessSampler {
public:
    explicit ProcessSampler(int sampleMs = 50, int quietMs = 250, double idleGrowthMs = 12.5)
        : quietMs_(quietMs), idleGrowthMs_(idleGrowthMs) {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { sample(); });
        clock_.start();
        timer_.start(sampleMs);
    }
    void sample() {
        highestKb_ = std::max(highestKb_, residentKilobytes().first);
        const qint64 now = clock_.nsecsElapsed();
        cpu_.push_back({now, processCpuNanoseconds()});
        // Only what the quiet check still needs.
        while (cpu_.size() > 2 && cpu_[1].first <= now - 2LL * quietMs_ * 1000000) cpu_.erase(cpu_.begin());
    }
    void resetHighest() { highestKb_ = residentKilobytes().first; }
    long highestMb() const { return highestKb_ / 1024; }
    bool quiet() const {
        if (cpu_.empty()) return false;
        const auto& [now, cpu] = cpu_.back();
        for (auto it = cpu_.rbegin(); it != cpu_.rend(); ++it)
            if (now - it->first >= quietMs_ * 1000000LL) return (cpu - it->second) / 1e6 < idleGrowthMs_;
        return false;
    }
    qint64 elapsedNs() const { return clock_.nsecsElapsed(); }

private:
    int quietMs_;
    double idleGrowthMs_;
    QTimer timer_;
    QElapsedTimer clock_;
    long highestKb_ = 0;
    std::vector<std::pair<qint64, qint64>> cpu_;  // (time, CPU time) of the recent samples
};

// Runs the GUI loop (blocking in it, as the program's own loop does) until
// `done` holds, checked every `checkMs`, or `ms` passed; answers `done()`.
inline bool runUntil(const std::function<bool()>& done, int ms, int checkMs = 20) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        const qint64 left = ms - clock.elapsed();
        if (left <= 0) return false;
        QEventLoop loop;
        QTimer::singleShot(std::min<qint64>(checkMs, left), &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

}  // namespace GuiProbes
