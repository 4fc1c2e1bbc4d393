#pragma once

// When the application becomes the active one (the user switched to one of
// its windows): where sections hang work that should follow the user back,
// such as looking at the clipboard. One source per process; the test double
// fires on demand.

#include <functional>
#include <memory>
#include <vector>

#include "platform/runtime/Observable.h"

namespace platform::ui {

class BecameActiveSource {
public:
    virtual ~BecameActiveSource() = default;
    [[nodiscard]] virtual Subscription subscribe(std::function<void()> handler) = 0;
};

// The handlers in order, for the implementations.
class BecameActiveHandlers {
public:
    Subscription add(std::function<void()> handler) {
        auto entry = std::make_shared<std::function<void()>>(std::move(handler));
        handlers_->push_back(entry);
        std::weak_ptr<std::vector<std::shared_ptr<std::function<void()>>>> list = handlers_;
        return Subscription([list, entry] {
            if (auto l = list.lock()) std::erase(*l, entry);
        });
    }
    void fire() const {
        auto copy = *handlers_;  // a handler may unsubscribe
        for (const auto& h : copy) (*h)();
    }
    std::size_t count() const { return handlers_->size(); }

private:
    std::shared_ptr<std::vector<std::shared_ptr<std::function<void()>>>> handlers_ =
        std::make_shared<std::vector<std::shared_ptr<std::function<void()>>>>();
};

class ManualBecameActiveSource : public BecameActiveSource {
public:
    Subscription subscribe(std::function<void()> handler) override { return handlers_.add(std::move(handler)); }
    void fire() const { handlers_.fire(); }
    std::size_t subscriberCount() const { return handlers_.count(); }

private:
    BecameActiveHandlers handlers_;
};

// The Qt application's state turning active.
class QtBecameActiveSource : public BecameActiveSource {
public:
    QtBecameActiveSource();
    ~QtBecameActiveSource() override;
    Subscription subscribe(std::function<void()> handler) override { return handlers_.add(std::move(handler)); }

private:
    BecameActiveHandlers handlers_;
    struct Connection;
    std::unique_ptr<Connection> connection_;
};

}  // namespace platform::ui
