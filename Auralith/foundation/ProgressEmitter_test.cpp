#include "Auralith/foundation/ProgressEmitter.h"

#include <gtest/gtest.h>

#include "platform/runtime/ManualExecutor.h"

namespace auralith {
namespace {

class ProgressEmitterTest : public ::testing::Test {
protected:
    template <class T>
    T run(platform::Task<T> task) {
        auto h = platform::spawn(ex_, std::move(task));
        ex_.runUntilIdle();
        EXPECT_TRUE(h.done());
        if constexpr (!std::is_void_v<T>) return h.value();
    }
    // Everything the stream holds now, and whether it has ended (and how).
    static platform::Task<std::vector<double>> drain(platform::Channel<double> stream, bool* ended,
                                                      std::optional<platform::Error>* failure) {
        std::vector<double> values;
        for (;;) {
            auto next = co_await stream.next();
            if (!next) {
                *failure = next.error();
                *ended = true;
                co_return values;
            }
            if (!*next) {
                *ended = true;
                co_return values;
            }
            values.push_back(**next);
        }
    }

    platform::ManualExecutor ex_;
    ProgressEmitter emitter_{ex_};
};

TEST_F(ProgressEmitterTest, OneStreamPerRunWithClampedValuesAndAFinalOne) {
    auto stream = run(emitter_.ensureSession());
    auto again = run(emitter_.ensureSession());  // the same stream, no second 0.0
    run(emitter_.report(0.5));
    run(emitter_.report(1.7));
    run(emitter_.report(-0.2));
    run(emitter_.finishSession());
    bool ended = false;
    std::optional<platform::Error> failure;
    auto values = run(drain(again, &ended, &failure));
    EXPECT_EQ(values, (std::vector<double>{0.0, 0.5, 1.0, 0.0, 1.0}));
    EXPECT_TRUE(ended);
    EXPECT_FALSE(failure);
    (void)stream;

    // Inactive now: reports and finishing send nothing; the next run gets a new stream.
    run(emitter_.report(0.3));
    run(emitter_.finishSession());
    auto next = run(emitter_.ensureSession());
    run(emitter_.report(0.25));
    ended = false;
    auto task = platform::spawn(ex_, drain(next, &ended, &failure));
    ex_.runUntilIdle();
    EXPECT_FALSE(ended);  // still open
    run(emitter_.failSession(platform::Error::make("test", 1, "x", "boom")));
    ASSERT_TRUE(task.done());
    EXPECT_EQ(task.value(), (std::vector<double>{0.0, 0.25}));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->description, "boom");
}

TEST_F(ProgressEmitterTest, ReportsWhileInactiveAndAFailureWithoutARunAreHarmless) {
    run(emitter_.report(0.5));
    run(emitter_.failSession(platform::Error::make("test", 1, "x", "boom")));
    auto stream = run(emitter_.ensureSession());
    run(emitter_.finishSession());
    bool ended = false;
    std::optional<platform::Error> failure;
    EXPECT_EQ(run(drain(stream, &ended, &failure)), (std::vector<double>{0.0, 1.0}));
}

}  // namespace
}  // namespace auralith
