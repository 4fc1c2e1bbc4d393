#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/runtime/Task.h"

namespace platform {

// An asynchronous stream: producers send from any thread; one consumer
// awaits `next()`. The stream can finish, fail, and tell the producer that
// the consumer stopped (so a producer can stop its work early).
//
//   next() -> Result<std::optional<T>>: a value, nullopt when finished,
//   or the failure (a cancellation error when the consumer was cancelled).
template <class T>
class Channel {
public:
    Channel() : s_(std::make_shared<State>()) {}

    // False when the consumer has stopped or the stream has ended; the value is dropped.
    bool send(T value) const {
        Waiter w;
        {
            std::lock_guard lock(s_->mutex);
            if (s_->ended || s_->consumerStopped) return false;
            if (s_->waiter.handle) {
                w = std::exchange(s_->waiter, {});
                *w.slot = std::optional<T>(std::move(value));
            } else {
                s_->buffer.push_back(std::move(value));
                return true;
            }
        }
        wake(w);
        return true;
    }
    void finish() const { end(std::nullopt); }
    void fail(Error e) const { end(std::move(e)); }

    // The consumer is done: later sends are dropped and the producer is told.
    void stopConsuming() const {
        std::vector<std::function<void()>> callbacks;
        {
            std::lock_guard lock(s_->mutex);
            if (s_->consumerStopped) return;
            s_->consumerStopped = true;
            s_->buffer.clear();
            callbacks.swap(s_->onConsumerStopped);
        }
        for (auto& cb : callbacks) cb();
    }
    bool consumerStopped() const {
        std::lock_guard lock(s_->mutex);
        return s_->consumerStopped;
    }
    // Runs `cb` once the consumer stops (at once if it already has).
    void onConsumerStopped(std::function<void()> cb) const {
        {
            std::lock_guard lock(s_->mutex);
            if (!s_->consumerStopped) {
                s_->onConsumerStopped.push_back(std::move(cb));
                return;
            }
        }
        cb();
    }

    struct NextAwaiter {
        std::shared_ptr<typename Channel::State> s;
        Result<std::optional<T>> result{std::nullopt};
        std::optional<std::stop_callback<std::function<void()>>> onStop;

        bool await_ready() {
            std::lock_guard lock(s->mutex);
            return s->takeReady(result);
        }
        template <detail::TaskPromise P>
        bool await_suspend(std::coroutine_handle<P> h) {
            auto& p = h.promise();
            {
                std::lock_guard lock(s->mutex);
                if (s->takeReady(result)) return false;
                if (p.stop.stop_requested()) {
                    result = platform::fail(Error::cancelled());
                    return false;
                }
                s->waiter = Waiter{h, p.executor, &result};
            }
            if (p.stop.stop_possible()) {
                auto state = s;
                onStop.emplace(p.stop, std::function<void()>([state] {
                    Waiter w;
                    {
                        std::lock_guard lock(state->mutex);
                        if (!state->waiter.handle) return;
                        w = std::exchange(state->waiter, {});
                        *w.slot = platform::fail(Error::cancelled());
                    }
                    wake(w);
                }));
            }
            return true;
        }
        Result<std::optional<T>> await_resume() {
            onStop.reset();
            return std::move(result);
        }
    };
    NextAwaiter next() const { return NextAwaiter{s_}; }

private:
    struct Waiter {
        std::coroutine_handle<> handle;
        Executor* executor = nullptr;
        Result<std::optional<T>>* slot = nullptr;
    };
    struct State {
        std::mutex mutex;
        std::deque<T> buffer;
        bool ended = false;
        bool consumerStopped = false;
        std::optional<Error> failure;
        Waiter waiter;
        std::vector<std::function<void()>> onConsumerStopped;

        bool takeReady(Result<std::optional<T>>& out) {
            if (!buffer.empty()) {
                out = std::optional<T>(std::move(buffer.front()));
                buffer.pop_front();
                return true;
            }
            if (ended) {
                if (failure)
                    out = platform::fail(*failure);
                else
                    out = std::optional<T>();
                return true;
            }
            return false;
        }
    };

    static void wake(const Waiter& w) {
        if (w.handle) w.executor->post([h = w.handle] { h.resume(); });
    }
    void end(std::optional<Error> failure) const {
        Waiter w;
        {
            std::lock_guard lock(s_->mutex);
            if (s_->ended) return;
            s_->ended = true;
            s_->failure = std::move(failure);
            if (s_->waiter.handle && s_->buffer.empty()) {
                w = std::exchange(s_->waiter, {});
                s_->takeReady(*w.slot);
            }
        }
        wake(w);
    }

    std::shared_ptr<State> s_;
};

}  // namespace platform
