#pragma once
// A serial queue on top of the shared default-priority pool: blocks run one
// at a time, in the order they were added, on some pool thread (never the
// main thread). Cheap to create; it holds no thread of its own.
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "Dispatch.h"

namespace Dispatch {

class SerialQueue : public std::enable_shared_from_this<SerialQueue> {
public:
    static std::shared_ptr<SerialQueue> create(std::string label);
    void async(Block block);
    // True while the calling thread runs a block of this queue.
    bool isCurrent() const;
    const std::string& label() const { return label_; }

private:
    explicit SerialQueue(std::string label) : label_(std::move(label)) {}
    void drain();

    std::string label_;
    std::mutex mutex_;
    std::deque<Block> blocks_;
    bool scheduled_ = false;
};

}  // namespace Dispatch
