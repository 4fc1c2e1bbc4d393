#pragma once

// The preferences views' tests' common parts: scripted permission sources
// behind a real permissions manager, a scripted workspace, a settings store
// in memory and a manual main executor.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>

#include "Parlowen/shell/PermissionsManager.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/log/CaptureSink.h"
#include "platform/permissions/PermissionSource.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/ui/Finders.h"
#include "platform/ui/ScreenshotTesting.h"
#include "platform/x11/Workspace.h"

namespace parlowen::preferencestest {

inline const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;

// Raw statuses by kind (the platform's numbering).
struct Raw {
    static std::int64_t of(PermissionKind kind, PermissionState state) {
        using K = PermissionKind;
        using S = PermissionState;
        switch (kind) {
            case K::microphone: return state == S::granted ? 3 : state == S::denied ? 2 : state == S::notDetermined ? 0 : 9;
            case K::speech: return state == S::granted ? 3 : state == S::denied ? 1 : state == S::notDetermined ? 0 : 9;
            case K::accessibility: return state == S::granted ? 1 : 0;
            case K::inputMonitoring:
                return state == S::granted ? 0 : state == S::denied ? 1 : state == S::notDetermined ? 2 : 9;
        }
        return 9;
    }
};

inline void pressKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(target, &release);
}

inline std::string textOf(const QObject* root, std::string_view path) {
    auto* label = platform::ui::findNamed<QLabel>(root, path);
    return label ? label->text().toStdString() : "<none>";
}

class PreferencesViewTest : public ::testing::Test {
protected:
    platform::ScopedLogCapture logs;
    platform::ManualExecutor main;
    platform::ScriptedPermissionSource mic{0}, speech{0}, ax{0}, input{2};
    PermissionsManager permissions{PermissionSources{mic, speech, ax, input}, main};
    platform::ScriptedWorkspace workspace;
    platform::InMemoryUserDefaults defaults;
    PreferencesStore preferences{defaults, {}};

    platform::ScriptedPermissionSource& source(PermissionKind kind) {
        switch (kind) {
            case PermissionKind::microphone: return mic;
            case PermissionKind::speech: return speech;
            case PermissionKind::accessibility: return ax;
            case PermissionKind::inputMonitoring: break;
        }
        return input;
    }
    void setState(PermissionKind kind, PermissionState state) { source(kind).setRawStatus(Raw::of(kind, state)); }
    int requests() { return mic.requestCount() + speech.requestCount() + ax.requestCount() + input.requestCount(); }
    // Runs main-thread work and Qt's deferred deletions.
    void settle() {
        main.runUntilIdle();
        platform::ui::testing::settle();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

}  // namespace parlowen::preferencestest
