#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/runtime/Observable.h"
#include "platform/ui/PickerModel.h"
#include "platform/ui/Property.h"
#include "platform/ui/SliderScale.h"

namespace platform::ui {
namespace {

// A control that reports every change of its value, programmatic ones
// included, the way Qt controls emit their change signals.
template <class T>
struct EchoingControl {
    T value{};
    std::vector<T> shown;
    TwoWayBinding<T>* binding = nullptr;

    void show(const T& v) {
        value = v;
        shown.push_back(v);
        binding->controlChanged(v);  // the signal a programmatic change still raises
    }
    void userSets(const T& v) {
        value = v;
        binding->controlChanged(v);
    }
};

template <class T>
struct Bound {
    explicit Bound(Property<T> property)
        : binding(std::move(property), [this](const T& v) { control.show(v); }) {
        control.binding = &binding;
        binding.start();
    }
    EchoingControl<T> control;
    TwoWayBinding<T> binding;
};

TEST(TwoWayBinding, ControlAndStoreStayInStepWithoutEchoes) {
    Observable<bool> store(true);
    std::vector<bool> writes;
    auto counter = store.stream().dropFirst().subscribe([&](const bool& v) { writes.push_back(v); });

    Bound<bool> bound{Property<bool>(store)};
    EXPECT_TRUE(bound.control.value) << "shows the current value at once";
    EXPECT_EQ(bound.control.shown, (std::vector<bool>{true}));
    EXPECT_TRUE(writes.empty()) << "showing a value writes nothing back";

    bound.control.userSets(false);
    EXPECT_FALSE(store.get());
    EXPECT_EQ(writes, (std::vector<bool>{false})) << "one write per user change";
    EXPECT_EQ(bound.control.shown.size(), 1u) << "the store's notification of the user's value is not shown again";

    store.set(true);  // someone else changes the setting
    EXPECT_TRUE(bound.control.value);
    EXPECT_EQ(writes, (std::vector<bool>{false, true})) << "the control's echo of a store value is not written";

    bound.control.userSets(true);  // equal to the stored value
    EXPECT_EQ(writes.size(), 2u);
}

TEST(TwoWayBinding, ShowsWhatTheStoreEndsUpHoldingWhenItsSetterAdjusts) {
    // A store that clamps rates to 0...1 and persists only what it keeps.
    Observable<double> backing(0.5);
    Property<double> clamped([backing] { return backing.get(); },
                             [backing](double v) mutable { backing.set(std::clamp(v, 0.0, 1.0)); },
                             backing.stream());
    Bound<double> bound{clamped};

    bound.control.userSets(3.0);
    EXPECT_DOUBLE_EQ(backing.get(), 1.0);
    EXPECT_DOUBLE_EQ(bound.control.value, 1.0) << "the control is put back in step with the store";

    // Another observer rewrites the value during the control's own write.
    auto rewriter = backing.stream().dropFirst().subscribe([backing](const double& v) mutable {
        if (v == 0.25) backing.set(0.3);
    });
    bound.control.userSets(0.25);
    EXPECT_DOUBLE_EQ(bound.control.value, backing.get());
}

TEST(TwoWayBinding, StopsShowingOnceStopped) {
    Observable<std::string> store("a");
    Bound<std::string> bound{Property<std::string>(store)};
    bound.binding.stop();
    store.set("b");
    EXPECT_EQ(bound.control.value, "a");
}

TEST(PickerModel, SelectsByTagWithAnAbsentEntryAndRefusesNonChoices) {
    using E = PickerEntry<std::string>;
    PickerModel<std::string> model({
        E::absent("System default — Desk Mic"),
        E::separator(),
        E::header("USB"),
        E::option("Desk Mic", "usb-desk"),
        E::option("Headset", "usb-headset", /*enabled=*/false),
        E::option("Saved device (not connected)", "gone-uid"),
    });

    EXPECT_EQ(model.indexOf(std::nullopt), 0u) << "no value selects the absent entry";
    EXPECT_EQ(model.indexOf(std::string("usb-desk")), 3u);
    EXPECT_EQ(model.indexOf(std::string("gone-uid")), 5u);
    EXPECT_EQ(model.indexOf(std::string("other")), std::nullopt);

    struct Case {
        std::size_t index;
        std::optional<std::optional<std::string>> writes;
    };
    for (const auto& c : std::vector<Case>{
             {0, std::optional<std::string>()},           // absent entry writes "no value"
             {1, std::nullopt},                           // separator
             {2, std::nullopt},                           // heading
             {3, std::optional<std::string>("usb-desk")},
             {4, std::nullopt},                           // disabled
             {5, std::optional<std::string>("gone-uid")},  // the stored value itself: unchanged
             {6, std::nullopt},                           // out of range
         })
        EXPECT_EQ(model.choice(c.index), c.writes) << "entry " << c.index;

    PickerModel<int> noAbsent({PickerEntry<int>::option("One", 1)});
    EXPECT_EQ(noAbsent.indexOf(std::nullopt), std::nullopt) << "no absent entry, no selection";
}

TEST(SliderScale, MapsTheClosedRangeOntoPositions) {
    const SliderScale rate{0.0, 1.0, 1000};
    struct Case {
        double value;
        int position;
    };
    for (auto c : std::vector<Case>{{0.0, 0}, {1.0, 1000}, {0.5, 500}, {0.0004, 0}, {0.0006, 1}, {-3, 0}, {7, 1000}})
        EXPECT_EQ(rate.position(c.value), c.position) << c.value;
    EXPECT_DOUBLE_EQ(rate.value(0), 0.0);
    EXPECT_DOUBLE_EQ(rate.value(1000), 1.0) << "the top end is exact";
    EXPECT_DOUBLE_EQ(rate.value(250), 0.25);
    EXPECT_DOUBLE_EQ(rate.value(5000), 1.0) << "positions are clamped";

    const SliderScale odd{0.1, 0.7, 1000};
    EXPECT_DOUBLE_EQ(odd.value(1000), 0.7);
    EXPECT_EQ(odd.position(0.4), 500);
    EXPECT_EQ((SliderScale{1, 1, 1000}.position(1)), 0) << "an empty range does not divide by zero";
}

}  // namespace
}  // namespace platform::ui
