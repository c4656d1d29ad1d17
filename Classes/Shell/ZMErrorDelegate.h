#pragma once
// Marks an object that may receive the other-button call of an
// ErrorViewController. It has no operations; it lets the popup notice when
// its delegate is gone.
#include <memory>

class ZMErrorDelegate {
public:
    ZMErrorDelegate() : alive_(std::make_shared<bool>(true)) {}
    ZMErrorDelegate(const ZMErrorDelegate&) : ZMErrorDelegate() {}
    ZMErrorDelegate& operator=(const ZMErrorDelegate&) { return *this; }
    virtual ~ZMErrorDelegate() { *alive_ = false; }
    std::weak_ptr<bool> errorDelegateLifetime() const { return alive_; }

private:
    std::shared_ptr<bool> alive_;
};
