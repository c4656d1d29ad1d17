#pragma once
// A delegate held weakly: one that is a QObject reads as null once it is
// gone; any other is the caller's to keep alive. Copies watch the same object,
// so a completion can carry one.
#include <QObject>
#include <QPointer>

template <class Delegate>
class WeakDelegate {
public:
    WeakDelegate() = default;
    explicit WeakDelegate(Delegate* delegate) { set(delegate); }
    void set(Delegate* delegate) {
        delegate_ = delegate;
        object_ = dynamic_cast<QObject*>(delegate);
        isObject_ = !object_.isNull();
    }
    Delegate* get() const { return isObject_ && object_.isNull() ? nullptr : delegate_; }

private:
    Delegate* delegate_ = nullptr;
    QPointer<QObject> object_;
    bool isObject_ = false;
};
