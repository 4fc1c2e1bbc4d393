#pragma once

// A store property as controls see it, and the two-way binding logic that
// keeps a control and the property in step without feedback loops.

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "platform/runtime/Observable.h"

namespace platform::ui {

// Read, write and observe one value of a store. Built from an Observable
// (copies share the value) or from a getter, a setter and a change stream
// (for stores that persist or validate in their setter). `changes()` gives
// the current value first, then every write.
template <class T>
class Property {
public:
    Property(Observable<T> observable)  // NOLINT: implicit on purpose
        : get_([observable] { return observable.get(); }),
          set_([observable](T v) mutable { observable.set(std::move(v)); }),
          changes_(observable.stream()) {}

    Property(std::function<T()> get, std::function<void(T)> set, Stream<T> changes)
        : get_(std::move(get)), set_(std::move(set)), changes_(std::move(changes)) {}

    T get() const { return get_(); }
    void set(T value) const { set_(std::move(value)); }
    const Stream<T>& changes() const { return changes_; }

private:
    std::function<T()> get_;
    std::function<void(T)> set_;
    Stream<T> changes_;
};

// Joins a control to a property. The control shows every value the property
// takes (starting with the current one); what the user does in the control is
// written to the property. Neither direction echoes back into the other:
//   - while the binding shows a store value in the control, change
//     notifications the control raises are ignored;
//   - while it writes a control value to the store, the store's notification
//     of that same value is not shown again (a different value, written by
//     another observer during the write, still is).
// A control value equal to the property's current value is not written.
// When the store ends up holding something else after a write (its setter
// refused or adjusted the value), the control shows what it holds.
template <class T>
class TwoWayBinding {
public:
    TwoWayBinding(Property<T> property, std::function<void(const T&)> show)
        : property_(std::move(property)), show_(std::move(show)) {}

    TwoWayBinding(const TwoWayBinding&) = delete;
    TwoWayBinding& operator=(const TwoWayBinding&) = delete;

    // Subscribes; the control shows the current value at once.
    void start() {
        subscription_ = property_.changes().subscribe([this](const T& v) { storeChanged(v); });
    }
    void stop() { subscription_.reset(); }

    // Called by the control adaptor when the control's value changes.
    void controlChanged(const T& value) {
        if (applying_) return;
        if (property_.get() == value) return;
        writing_ = value;
        shownDuringWrite_ = false;
        property_.set(value);
        writing_.reset();
        // A setter that refused or adjusted the value, or an observer that
        // wrote during the write, may leave the store elsewhere than the
        // control: show what it holds now.
        if (T now = property_.get(); shownDuringWrite_ || !(now == value)) storeChanged(now);
    }

    bool isApplying() const { return applying_; }
    const Property<T>& property() const { return property_; }

private:
    void storeChanged(const T& v) {
        if (writing_) {
            if (*writing_ == v) return;
            shownDuringWrite_ = true;
        }
        applying_ = true;
        show_(v);
        applying_ = false;
    }

    Property<T> property_;
    std::function<void(const T&)> show_;
    Subscription subscription_;
    bool applying_ = false;
    bool shownDuringWrite_ = false;
    std::optional<T> writing_;
};

}  // namespace platform::ui
