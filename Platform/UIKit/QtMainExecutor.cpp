#include "UIKit/QtMainExecutor.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include "Dispatch/Dispatch.h"

namespace UIKit {

void installQtMainExecutor() {
    Dispatch::MainExecutor executor;
    executor.post = [](Dispatch::Block block) {
        QMetaObject::invokeMethod(qApp, std::move(block), Qt::QueuedConnection);
    };
    executor.postDelayed = [](Dispatch::Block block, std::chrono::milliseconds delay) {
        // QTimer::singleShot must be called on the thread that owns the
        // context object, so hop to the GUI thread first.
        auto start = [block = std::move(block), delay]() mutable {
            QTimer::singleShot(delay, qApp, std::move(block));
        };
        QMetaObject::invokeMethod(qApp, std::move(start), Qt::QueuedConnection);
    };
    Dispatch::setMainExecutor(std::move(executor));
}

}  // namespace UIKit
