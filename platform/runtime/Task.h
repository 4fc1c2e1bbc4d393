#pragma once

// Coroutine tasks on executors.
//
// A `Task<T>` is lazy: it starts when awaited or spawned. It carries the
// executor it runs on and a stop token; awaiting a child hands both down, so
// cancelling the outermost task reaches every awaitable below it. Awaitables
// that wait (sleep, channels, joins) resume their coroutine by posting to the
// coroutine's executor, never on a foreign thread.
//
// With g++ 12, never write a capturing lambda as a coroutine: pass state as
// parameters of a named coroutine function instead.

#include <atomic>
#include <coroutine>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <utility>
#include <vector>

#include "platform/runtime/Error.h"
#include "platform/runtime/Executor.h"

namespace platform {

namespace detail {

struct PromiseBase {
    Executor* executor = nullptr;        // where this coroutine runs now
    Executor* parentExecutor = nullptr;  // where the awaiting coroutine expects to resume
    std::stop_token stop;
    std::coroutine_handle<> continuation;
    std::exception_ptr exception;

    std::suspend_always initial_suspend() noexcept { return {}; }

    struct FinalAwaiter {
        bool await_ready() noexcept { return false; }
        template <class P>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<P> h) noexcept {
            PromiseBase& p = h.promise();
            auto c = p.continuation;
            if (!c) return std::noop_coroutine();
            // A child that moved to another executor must not drag its parent along.
            if (p.parentExecutor && p.parentExecutor != p.executor) {
                p.parentExecutor->post([c] { c.resume(); });
                return std::noop_coroutine();
            }
            return c;
        }
        void await_resume() noexcept {}
    };
    FinalAwaiter final_suspend() noexcept { return {}; }
    void unhandled_exception() { exception = std::current_exception(); }
};

template <class P>
concept TaskPromise = std::derived_from<P, PromiseBase>;

}  // namespace detail

template <class T = void>
class Task;

namespace detail {

template <class T>
struct ValuePromise : PromiseBase {
    std::optional<T> value;
    Task<T> get_return_object();
    template <class U>
    void return_value(U&& v) {
        value.emplace(std::forward<U>(v));
    }
};

struct VoidPromise : PromiseBase {
    Task<void> get_return_object();
    void return_void() {}
};

// What every task shares: ownership of the frame, and awaiting it from a
// parent task (which hands down its executor and stop token).
template <class Promise>
class TaskBase {
public:
    using Handle = std::coroutine_handle<Promise>;

    TaskBase() = default;
    explicit TaskBase(Handle h) : h_(h) {}
    TaskBase(TaskBase&& o) noexcept : h_(std::exchange(o.h_, {})) {}
    TaskBase& operator=(TaskBase&& o) noexcept {
        if (this != &o) {
            if (h_) h_.destroy();
            h_ = std::exchange(o.h_, {});
        }
        return *this;
    }
    ~TaskBase() {
        if (h_) h_.destroy();
    }

    bool await_ready() const noexcept { return !h_ || h_.done(); }
    template <TaskPromise P>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<P> parent) {
        auto& p = h_.promise();
        p.continuation = parent;
        p.parentExecutor = parent.promise().executor;
        if (!p.executor) p.executor = parent.promise().executor;
        if (!p.stop.stop_possible()) p.stop = parent.promise().stop;
        return h_;
    }

    Handle handle() const { return h_; }
    Handle release() { return std::exchange(h_, {}); }

protected:
    Promise& finishedPromise() const {
        auto& p = h_.promise();
        if (p.exception) std::rethrow_exception(p.exception);
        return p;
    }

    Handle h_;
};

}  // namespace detail

template <class T>
class [[nodiscard]] Task : public detail::TaskBase<detail::ValuePromise<T>> {
public:
    using promise_type = detail::ValuePromise<T>;
    using detail::TaskBase<promise_type>::TaskBase;

    T await_resume() { return std::move(*this->finishedPromise().value); }
};

template <>
class [[nodiscard]] Task<void> : public detail::TaskBase<detail::VoidPromise> {
public:
    using promise_type = detail::VoidPromise;
    using detail::TaskBase<promise_type>::TaskBase;

    void await_resume() { (void)finishedPromise(); }
};

namespace detail {
template <class T>
Task<T> ValuePromise<T>::get_return_object() {
    return Task<T>(std::coroutine_handle<ValuePromise<T>>::from_promise(*this));
}
inline Task<void> VoidPromise::get_return_object() {
    return Task<void>(std::coroutine_handle<VoidPromise>::from_promise(*this));
}
}  // namespace detail

// ---- Context awaitables: never suspend, just read the running task's context.

struct CurrentExecutor {
    Executor* value = nullptr;
    bool await_ready() const noexcept { return false; }
    template <detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h) noexcept {
        value = h.promise().executor;
        return false;
    }
    Executor& await_resume() const noexcept { return *value; }
};
inline CurrentExecutor currentExecutor() { return {}; }

struct CurrentStopToken {
    std::stop_token value;
    bool await_ready() const noexcept { return false; }
    template <detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h) noexcept {
        value = h.promise().stop;
        return false;
    }
    std::stop_token await_resume() const noexcept { return value; }
};
// `co_await currentStopToken()` for code that checks cancellation cooperatively.
inline CurrentStopToken currentStopToken() { return {}; }

// ---- Executor switch: the rest of the coroutine runs on `target`.

struct ResumeOn {
    Executor* target;
    bool await_ready() const noexcept { return false; }
    template <detail::TaskPromise P>
    void await_suspend(std::coroutine_handle<P> h) {
        h.promise().executor = target;
        target->post([h] { h.resume(); });
    }
    void await_resume() const noexcept {}
};
inline ResumeOn resumeOn(Executor& target) { return ResumeOn{&target}; }

// ---- Sleep on the coroutine's executor; ends early with a cancellation error.

namespace detail {
// Lets exactly one of several racing wake-ups resume a suspended coroutine.
struct WakeOnce {
    std::atomic<bool> fired{false};
    bool claim() { return !fired.exchange(true); }
};

// What a sleep shares with its timer job and its stop callback. The timer
// handle lives here, not in the awaiter: once the timer is armed the
// coroutine may resume on another thread and the awaiter may be gone.
struct SleepState : WakeOnce {
    std::mutex mutex;
    TimerHandle timer;
    bool registered = false;  // the stop callback's registration has returned
    bool stopped = false;

    void arm(TimerHandle t) {
        std::lock_guard lock(mutex);
        if (stopped) t.cancel();
        else timer = std::move(t);
    }
    // True when the stop came before registration returned: the awaiting
    // code then carries on without suspending, so nobody may resume it.
    bool stopBeforeRegistered() {
        std::lock_guard lock(mutex);
        stopped = true;
        timer.cancel();
        return !registered;
    }
    // True when a stop already came.
    bool finishRegistering() {
        std::lock_guard lock(mutex);
        registered = true;
        return stopped;
    }
};
}  // namespace detail

struct SleepAwaiter {
    Duration delay;
    Status result;
    std::optional<std::stop_callback<std::function<void()>>> onStop;

    bool await_ready() const noexcept { return false; }
    template <detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h) {
        auto& p = h.promise();
        if (p.stop.stop_requested()) {
            result = fail(Error::cancelled());
            return false;
        }
        auto state = std::make_shared<detail::SleepState>();
        Executor* ex = p.executor;
        const Duration d = delay;
        // The stop callback is registered before the timer is armed: once
        // armed, the coroutine can resume and end on another thread, and a
        // callback registered afterwards would live in a freed frame.
        if (p.stop.stop_possible()) {
            SleepAwaiter* self = this;
            onStop.emplace(p.stop, std::function<void()>([self, state, ex, h] {
                if (!state->claim()) return;
                self->result = fail(Error::cancelled());
                if (state->stopBeforeRegistered()) return;
                ex->post([h] { h.resume(); });
            }));
            if (state->finishRegistering()) return false;
        }
        // From here on `this` may be gone.
        state->arm(ex->postAfter(d, [state, h] {
            if (state->claim()) h.resume();
        }));
        return true;
    }
    Status await_resume() {
        onStop.reset();
        return std::move(result);
    }
};
inline SleepAwaiter sleepFor(Duration d) { return SleepAwaiter{d, {}, std::nullopt}; }

// ---- Spawning: start a task on an executor and keep a handle to it.

namespace detail {

template <class T>
struct SpawnState {
    std::mutex mutex;
    std::stop_source stop;
    bool done = false;
    std::optional<T> value;
    std::exception_ptr exception;
    std::vector<std::pair<std::coroutine_handle<>, Executor*>> waiters;
    std::vector<std::function<void()>> onDone;
    std::optional<std::stop_callback<std::function<void()>>> parentLink;

    template <class... U>
    void complete(std::exception_ptr e, U&&... v) {
        std::vector<std::pair<std::coroutine_handle<>, Executor*>> w;
        std::vector<std::function<void()>> callbacks;
        {
            std::lock_guard lock(mutex);
            if constexpr (sizeof...(U) > 0) value.emplace(std::forward<U>(v)...);
            exception = e;
            done = true;
            w.swap(waiters);
            callbacks.swap(onDone);
        }
        for (auto& [h, ex] : w) ex->post([h = h] { h.resume(); });
        for (auto& cb : callbacks) cb();
    }
};

template <>
struct SpawnState<void> : SpawnState<bool> {};

// The driver owns the spawned task's frame and destroys itself when done.
struct Detached {
    struct promise_type : PromiseBase {
        template <class... A>
        promise_type(Executor* ex, std::stop_token st, A&&...) {
            executor = ex;
            stop = std::move(st);
        }
        Detached get_return_object() noexcept { return {}; }
        std::suspend_never initial_suspend() noexcept { return {}; }
        std::suspend_never final_suspend() noexcept { return {}; }
        void return_void() noexcept {}
        void unhandled_exception() noexcept { std::terminate(); }
    };
};

template <class T>
Detached driveSpawned(Executor*, std::stop_token, Task<T> task, std::shared_ptr<SpawnState<T>> state) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            state->complete(nullptr, true);
        } else {
            T v = co_await std::move(task);
            state->complete(nullptr, std::move(v));
        }
    } catch (...) {
        state->complete(std::current_exception());
    }
}

}  // namespace detail

template <class T = void>
class JoinHandle {
public:
    JoinHandle() = default;
    explicit JoinHandle(std::shared_ptr<detail::SpawnState<T>> s) : s_(std::move(s)) {}

    // Asks the task to stop; it ends when its awaitables notice.
    void cancel() const {
        if (s_) s_->stop.request_stop();
    }
    bool done() const {
        if (!s_) return true;
        std::lock_guard lock(s_->mutex);
        return s_->done;
    }
    bool valid() const { return static_cast<bool>(s_); }
    // The result once done (rethrows an exception the task ended with).
    const auto& value() const
        requires(!std::is_void_v<T>)
    {
        if (s_->exception) std::rethrow_exception(s_->exception);
        return *s_->value;
    }
    // Runs `cb` (on the finishing thread) once the task ends; at once if it has.
    void onDone(std::function<void()> cb) const {
        {
            std::lock_guard lock(s_->mutex);
            if (!s_->done) {
                s_->onDone.push_back(std::move(cb));
                return;
            }
        }
        cb();
    }

    // Awaiting a handle waits for the task; it does not cancel it.
    bool await_ready() const { return done(); }
    template <detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h) {
        std::lock_guard lock(s_->mutex);
        if (s_->done) return false;
        s_->waiters.emplace_back(h, h.promise().executor);
        return true;
    }
    // The awaiting coroutine takes the result (moved out, so move-only results work).
    auto await_resume() const {
        if (s_->exception) std::rethrow_exception(s_->exception);
        if constexpr (!std::is_void_v<T>) return T(std::move(*s_->value));
    }

private:
    std::shared_ptr<detail::SpawnState<T>> s_;
};

// Starts `task` on `executor` (in a later turn). A stop request on `parent`
// reaches the task as well as `JoinHandle::cancel`.
template <class T>
JoinHandle<T> spawn(Executor& executor, Task<T> task, std::stop_token parent = {}) {
    auto state = std::make_shared<detail::SpawnState<T>>();
    if (parent.stop_possible()) {
        std::weak_ptr<detail::SpawnState<T>> weak = state;
        state->parentLink.emplace(parent, std::function<void()>([weak] {
            if (auto s = weak.lock()) s->stop.request_stop();
        }));
    }
    Executor* ex = &executor;
    executor.post([ex, state, t = std::move(task)]() mutable {
        detail::driveSpawned<T>(ex, state->stop.get_token(), std::move(t), state);
    });
    return JoinHandle<T>(state);
}

// ---- Groups

namespace detail {
template <class T>
Task<std::vector<T>> allOfImpl(std::vector<Task<T>> tasks) {
    Executor& ex = co_await currentExecutor();
    std::stop_token stop = co_await currentStopToken();
    std::vector<JoinHandle<T>> handles;
    handles.reserve(tasks.size());
    for (auto& t : tasks) handles.push_back(spawn(ex, std::move(t), stop));
    std::vector<T> results;
    results.reserve(handles.size());
    for (auto& h : handles) results.push_back(co_await h);
    co_return results;
}
inline Task<void> allOfVoidImpl(std::vector<Task<void>> tasks) {
    Executor& ex = co_await currentExecutor();
    std::stop_token stop = co_await currentStopToken();
    std::vector<JoinHandle<void>> handles;
    for (auto& t : tasks) handles.push_back(spawn(ex, std::move(t), stop));
    for (auto& h : handles) co_await h;
}
}  // namespace detail

// Runs every task concurrently on the current executor and waits for all of
// them (a task group). Cancelling the awaiting task cancels all of them.
template <class T>
Task<std::vector<T>> allOf(std::vector<Task<T>> tasks) {
    return detail::allOfImpl<T>(std::move(tasks));
}
inline Task<void> allOf(std::vector<Task<void>> tasks) { return detail::allOfVoidImpl(std::move(tasks)); }

namespace detail {
template <class T>
struct FirstState {
    std::mutex mutex;
    std::optional<std::pair<std::size_t, T>> winner;
    std::exception_ptr exception;
    bool finished = false;
    std::coroutine_handle<> waiter;
    Executor* waiterExecutor = nullptr;
    std::vector<std::stop_source> stops;

    void offer(std::size_t i, std::optional<T> v, std::exception_ptr e) {
        std::coroutine_handle<> w;
        Executor* ex = nullptr;
        {
            std::lock_guard lock(mutex);
            if (finished) return;
            finished = true;
            if (v) winner.emplace(i, std::move(*v));
            exception = e;
            w = std::exchange(waiter, {});
            ex = waiterExecutor;
        }
        for (std::size_t j = 0; j < stops.size(); ++j)
            if (j != i) stops[j].request_stop();
        if (w) ex->post([w] { w.resume(); });
    }
};

template <class T>
Task<void> raceEntry(Task<T> t, std::size_t i, std::shared_ptr<FirstState<T>> s) {
    try {
        T v = co_await std::move(t);
        s->offer(i, std::move(v), nullptr);
    } catch (...) {
        s->offer(i, std::nullopt, std::current_exception());
    }
}

template <class T>
struct FirstAwaiter {
    std::shared_ptr<FirstState<T>> s;
    bool await_ready() {
        std::lock_guard lock(s->mutex);
        return s->finished;
    }
    template <TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h) {
        std::lock_guard lock(s->mutex);
        if (s->finished) return false;
        s->waiter = h;
        s->waiterExecutor = h.promise().executor;
        return true;
    }
    void await_resume() {}
};

template <class T>
Task<std::pair<std::size_t, T>> firstOfImpl(std::vector<Task<T>> tasks) {
    Executor& ex = co_await currentExecutor();
    std::stop_token stop = co_await currentStopToken();
    auto s = std::make_shared<FirstState<T>>();
    s->stops.resize(tasks.size());
    std::optional<std::stop_callback<std::function<void()>>> link;
    if (stop.stop_possible()) {
        link.emplace(stop, std::function<void()>([s] {
            for (auto& st : s->stops) st.request_stop();
        }));
    }
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        auto h = spawn(ex, raceEntry<T>(std::move(tasks[i]), i, s), s->stops[i].get_token());
        (void)h;
    }
    // Named, not a braced temporary: g++ 12 destroys a brace-initialised
    // awaiter temporary twice, which would drop a reference to `s` too many.
    FirstAwaiter<T> first{s};
    co_await first;
    if (s->exception) std::rethrow_exception(s->exception);
    co_return std::move(*s->winner);
}
}  // namespace detail

// Runs the tasks concurrently and returns the first to finish, with its index.
// The others are asked to stop and finish in the background; their results
// are dropped.
template <class T>
Task<std::pair<std::size_t, T>> firstOf(std::vector<Task<T>> tasks) {
    return detail::firstOfImpl<T>(std::move(tasks));
}

namespace detail {
template <class T>
Task<std::optional<T>> wrapOptional(Task<T> t) {
    co_return std::optional<T>(co_await std::move(t));
}
template <class T>
Task<std::optional<T>> timeoutSentinel(Duration d) {
    (void)co_await sleepFor(d);
    co_return std::nullopt;
}
template <class T>
Task<std::optional<T>> withTimeoutImpl(Task<T> task, Duration limit) {
    std::vector<Task<std::optional<T>>> tasks;
    tasks.push_back(wrapOptional<T>(std::move(task)));
    tasks.push_back(timeoutSentinel<T>(limit));
    auto [index, value] = co_await firstOf(std::move(tasks));
    if (index == 1) co_return std::nullopt;
    co_return std::move(value);
}
}  // namespace detail

// The task's result, or nullopt when `limit` passes first (the task is then
// asked to stop and its late result is dropped).
template <class T>
Task<std::optional<T>> withTimeout(Task<T> task, Duration limit) {
    return detail::withTimeoutImpl<T>(std::move(task), limit);
}

}  // namespace platform
