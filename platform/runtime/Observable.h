#pragma once

// Observable values and change streams.
//
// `Observable<T>` delivers each written value to its subscribers *before* it
// stores it, so a subscriber that reads the owner sees the previous value
// (the settings model relies on this). A new subscriber gets the current
// value at once. Equal values are delivered again. A subscription ends when
// its `Subscription` token is released.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/runtime/Executor.h"

namespace platform {

// Ends its subscription when destroyed or reset. Move-only.
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    Subscription(Subscription&& o) noexcept : cancel_(std::exchange(o.cancel_, {})) {}
    Subscription& operator=(Subscription&& o) noexcept {
        if (this != &o) {
            reset();
            cancel_ = std::exchange(o.cancel_, {});
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { reset(); }

    void reset() {
        if (auto c = std::exchange(cancel_, {})) c();
    }
    explicit operator bool() const { return static_cast<bool>(cancel_); }

private:
    std::function<void()> cancel_;
};

// A bag of subscriptions that end together (an owner's "observations").
class SubscriptionSet {
public:
    void insert(Subscription s) { subs_.push_back(std::move(s)); }
    SubscriptionSet& operator+=(Subscription s) {
        insert(std::move(s));
        return *this;
    }
    void clear() { subs_.clear(); }
    std::size_t size() const { return subs_.size(); }

private:
    std::vector<Subscription> subs_;
};

template <class T>
using Sink = std::function<void(const T&)>;

// A composable source of values: subscribe with a sink, get a token back.
template <class T>
class Stream {
public:
    using SubscribeFn = std::function<Subscription(Sink<T>)>;

    Stream() = default;
    explicit Stream(SubscribeFn fn) : subscribe_(std::move(fn)) {}

    [[nodiscard]] Subscription subscribe(Sink<T> sink) const { return subscribe_(std::move(sink)); }

    // Skips the first `n` values (typically the current value on subscription).
    Stream dropFirst(std::size_t n = 1) const {
        auto up = subscribe_;
        return Stream([up, n](Sink<T> sink) {
            auto seen = std::make_shared<std::size_t>(0);
            return up([seen, n, sink](const T& v) {
                if ((*seen)++ >= n) sink(v);
            });
        });
    }

    Stream removeDuplicates() const {
        auto up = subscribe_;
        return Stream([up](Sink<T> sink) {
            auto last = std::make_shared<std::optional<T>>();
            return up([last, sink](const T& v) {
                if (*last && **last == v) return;
                *last = v;
                sink(v);
            });
        });
    }

    Stream filter(std::function<bool(const T&)> keep) const {
        auto up = subscribe_;
        return Stream([up, keep](Sink<T> sink) {
            return up([keep, sink](const T& v) {
                if (keep(v)) sink(v);
            });
        });
    }

    template <class F, class U = std::decay_t<std::invoke_result_t<F, const T&>>>
    Stream<U> map(F f) const {
        auto up = subscribe_;
        return Stream<U>([up, f](Sink<U> sink) { return up([f, sink](const T& v) { sink(f(v)); }); });
    }

    // Delivers a value only after `quiet` passes with no newer value, on `executor`.
    Stream debounce(Executor& executor, Duration quiet) const {
        auto up = subscribe_;
        Executor* ex = &executor;
        return Stream([up, ex, quiet](Sink<T> sink) {
            struct State {
                std::mutex mutex;
                TimerHandle timer;
                std::optional<T> pending;
                std::atomic<bool> alive{true};
            };
            auto st = std::make_shared<State>();
            Subscription inner = up([st, ex, quiet, sink](const T& v) {
                std::lock_guard lock(st->mutex);
                st->timer.cancel();
                st->pending = v;
                st->timer = ex->postAfter(quiet, [st, sink] {
                    std::optional<T> value;
                    {
                        std::lock_guard l(st->mutex);
                        value = std::exchange(st->pending, std::nullopt);
                    }
                    if (value && st->alive) sink(*value);
                });
            });
            auto innerPtr = std::make_shared<Subscription>(std::move(inner));
            return Subscription([st, innerPtr] {
                st->alive = false;
                std::lock_guard lock(st->mutex);
                st->timer.cancel();
                innerPtr->reset();
            });
        });
    }

private:
    SubscribeFn subscribe_;
};

// A subject without a current value: subscribers get what is sent after they
// subscribe. Used for event streams (notifications, hot-plug, edges).
template <class T>
class Signal {
public:
    Signal() : core_(std::make_shared<Core>()) {}

    void send(const T& v) const { core_->deliver(v); }
    [[nodiscard]] Subscription subscribe(Sink<T> sink) const { return core_->add(std::move(sink)); }
    Stream<T> stream() const {
        auto core = core_;
        return Stream<T>([core](Sink<T> sink) { return core->add(std::move(sink)); });
    }
    std::size_t subscriberCount() const {
        std::lock_guard lock(core_->mutex);
        return core_->entries.size();
    }

protected:
    struct Entry {
        Sink<T> sink;
        std::atomic<bool> active{true};
    };
    struct Core : std::enable_shared_from_this<Core> {
        mutable std::mutex mutex;
        std::vector<std::shared_ptr<Entry>> entries;

        Subscription add(Sink<T> sink) {
            auto e = std::make_shared<Entry>();
            e->sink = std::move(sink);
            {
                std::lock_guard lock(mutex);
                entries.push_back(e);
            }
            std::weak_ptr<Core> weak = this->shared_from_this();
            std::weak_ptr<Entry> weakEntry = e;
            return Subscription([weak, weakEntry] {
                auto core = weak.lock();
                auto entry = weakEntry.lock();
                if (!entry) return;
                entry->active = false;
                if (!core) return;
                std::lock_guard lock(core->mutex);
                std::erase(core->entries, entry);
            });
        }
        void deliver(const T& v) {
            std::vector<std::shared_ptr<Entry>> copy;
            {
                std::lock_guard lock(mutex);
                copy = entries;
            }
            // No lock is held while subscribers run: they may subscribe, cancel or write.
            for (auto& e : copy)
                if (e->active) e->sink(v);
        }
    };
    std::shared_ptr<Core> core_;
};

template <class T>
class Observable {
public:
    explicit Observable(T initial = T{}) : state_(std::make_shared<State>(std::move(initial))) {}

    // Copies share the value (like a reference to the owner's property).
    T get() const {
        std::lock_guard lock(state_->mutex);
        return state_->value;
    }
    T operator()() const { return get(); }
    // Answers `f(value)` without copying the value. `f` runs under the
    // observable's lock, so it must only read what it is given.
    template <class F>
    auto read(F&& f) const {
        std::lock_guard lock(state_->mutex);
        return std::forward<F>(f)(std::as_const(state_->value));
    }

    // Subscribers see `v` first; the observable holds it once they have run.
    void set(T v) {
        state_->changes.send(v);
        std::lock_guard lock(state_->mutex);
        state_->value = std::move(v);
    }

    // The current value, then every write.
    Stream<T> stream() const {
        auto st = state_;
        return Stream<T>([st](Sink<T> sink) {
            T current;
            {
                std::lock_guard lock(st->mutex);
                current = st->value;
            }
            sink(current);
            return st->changes.subscribe(std::move(sink));
        });
    }
    [[nodiscard]] Subscription subscribe(Sink<T> sink) const { return stream().subscribe(std::move(sink)); }

private:
    struct State {
        explicit State(T v) : value(std::move(v)) {}
        mutable std::mutex mutex;
        T value;
        Signal<T> changes;
    };
    std::shared_ptr<State> state_;
};

// A token whose weak references tell callbacks that their owner is gone.
class Lifetime {
public:
    Lifetime() : token_(std::make_shared<char>(0)) {}
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    std::weak_ptr<void> weak() const { return token_; }
    // Wraps `f` so that it does nothing once this lifetime has ended.
    template <class F>
    auto guard(F f) const {
        return [w = weak(), f = std::move(f)](auto&&... args) mutable {
            if (w.expired()) return;
            f(std::forward<decltype(args)>(args)...);
        };
    }
    void end() { token_.reset(); }

private:
    std::shared_ptr<void> token_;
};

}  // namespace platform
