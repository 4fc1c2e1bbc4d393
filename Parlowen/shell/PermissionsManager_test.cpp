#include <gtest/gtest.h>

#include "Parlowen/shell/PermissionsManager.h"
#include "platform/runtime/ManualExecutor.h"

using namespace parlowen;
using platform::ScriptedPermissionSource;

namespace {

struct Fixture {
    ScriptedPermissionSource mic{3}, speech{3}, ax{1}, input{0};
    platform::ManualExecutor main;
    PermissionsManager manager{{mic, speech, ax, input}, main};
    int changes = 0;
    platform::Subscription sub = manager.states.stream().dropFirst().subscribe([this](const PermissionStates&) { ++changes; });
};

TEST(PermissionsManager, RawStatusMappingTables) {
    using K = PermissionKind;
    using S = PermissionState;
    struct Row {
        K kind;
        std::int64_t raw;
        S state;
    };
    const Row rows[] = {
        {K::microphone, 0, S::notDetermined}, {K::microphone, 1, S::denied},  {K::microphone, 2, S::denied},
        {K::microphone, 3, S::granted},       {K::microphone, 4, S::unknown}, {K::microphone, -1, S::unknown},
        {K::speech, 0, S::notDetermined},     {K::speech, 1, S::denied},      {K::speech, 2, S::denied},
        {K::speech, 3, S::granted},           {K::speech, 7, S::unknown},     {K::accessibility, 1, S::granted},
        {K::accessibility, 0, S::denied},     {K::inputMonitoring, 0, S::granted}, {K::inputMonitoring, 1, S::denied},
        {K::inputMonitoring, 2, S::notDetermined}, {K::inputMonitoring, 3, S::unknown},
    };
    for (const auto& r : rows)
        EXPECT_EQ(PermissionsManager::stateFromRaw(r.kind, r.raw), r.state) << rawValue(r.kind) << " " << r.raw;
}

TEST(PermissionsManager, StartsWithFourUnknownsAndRefreshAlwaysPublishesOnce) {
    Fixture f;
    auto initial = f.manager.states.get();
    ASSERT_EQ(initial.size(), 4u);
    for (auto& [kind, state] : initial) EXPECT_EQ(state, PermissionState::unknown);

    EXPECT_TRUE(f.manager.refresh().empty());
    EXPECT_EQ(f.changes, 1);
    EXPECT_TRUE(f.manager.refresh().empty());  // nothing changed, still one change
    EXPECT_EQ(f.changes, 2);

    f.mic.setRawStatus(1);  // restricted
    f.input.setRawStatus(2);
    EXPECT_EQ(f.manager.refresh(), (std::vector<std::string>{"microphone=denied", "inputMonitoring=notDetermined"}));
    EXPECT_EQ(f.manager.states.get().at(PermissionKind::microphone), PermissionState::denied);
}

TEST(PermissionsManager, RefreshAsyncReadsOnTheMainExecutorAndAssignsOnce) {
    Fixture f;
    f.speech.setRawStatus(0);
    auto h = platform::spawn(f.main, f.manager.refreshAsync());
    f.main.runUntilIdle();
    ASSERT_TRUE(h.done());
    EXPECT_EQ(f.changes, 1);
    EXPECT_EQ(f.manager.states.get().at(PermissionKind::speech), PermissionState::notDetermined);
    EXPECT_EQ(f.manager.states.get().at(PermissionKind::microphone), PermissionState::granted);
}

TEST(PermissionsManager, RequestChangesOnlyItsOwnKind) {
    Fixture f;
    f.manager.refresh();
    f.mic.setRawStatus(0);
    f.ax.setRawStatus(0);  // changed in the system, but not requested
    f.mic.answerRequestWith(3);
    auto h = platform::spawn(f.main, f.manager.request(PermissionKind::microphone));
    f.main.runUntilIdle();
    ASSERT_TRUE(h.done());
    EXPECT_EQ(f.mic.requestCount(), 1);
    EXPECT_EQ(f.changes, 2);
    auto s = f.manager.states.get();
    EXPECT_EQ(s.at(PermissionKind::microphone), PermissionState::granted);
    EXPECT_EQ(s.at(PermissionKind::accessibility), PermissionState::granted);  // stale until the next refresh
}

TEST(PermissionsManager, FirstMissingPermissionWalksTheKindsInOrder) {
    Fixture f;
    EXPECT_EQ(f.manager.firstMissingPermission(), std::nullopt);
    f.input.setRawStatus(2);
    EXPECT_EQ(f.manager.firstMissingPermission(), PermissionKind::inputMonitoring);
    f.ax.setRawStatus(0);
    f.mic.setRawStatus(1);
    EXPECT_EQ(f.manager.firstMissingPermission(), PermissionKind::microphone);
    EXPECT_EQ(f.changes, 0);  // never touches states
}

TEST(PermissionsManager, KindsFromRawValuesAndSettingsUrls) {
    EXPECT_EQ(permissionKindFromRawValue("microphone"), PermissionKind::microphone);
    EXPECT_EQ(permissionKindFromRawValue("inputMonitoring"), PermissionKind::inputMonitoring);
    EXPECT_EQ(permissionKindFromRawValue("Microphone"), std::nullopt);
    EXPECT_EQ(permissionKindFromRawValue(""), std::nullopt);
    EXPECT_EQ(PermissionsManager::settingsURL(PermissionKind::inputMonitoring),
              "x-apple.systempreferences:com.apple.preference.security?Privacy_ListenEvent");
    EXPECT_EQ(PermissionsManager::settingsURL(PermissionKind::speech),
              "x-apple.systempreferences:com.apple.preference.security?Privacy_SpeechRecognition");
}

}  // namespace
