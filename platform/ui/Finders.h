#pragma once

// Finding widgets by their stable objectName, for tests and for code that
// reaches into a composed view. A name may be a path of names separated by
// "/" ("generalSection/launchAtLogin/toggle"): each step searches the
// descendants of the previous match, depth first, the root included.

#include <string_view>
#include <vector>

#include <QObject>
#include <QWidget>

namespace platform::ui {

QObject* findNamedObject(const QObject* root, std::string_view path);

// dynamic_cast, so widget classes without Q_OBJECT can be asked for too.
template <class T = QWidget>
T* findNamed(const QObject* root, std::string_view path) {
    return dynamic_cast<T*>(findNamedObject(root, path));
}

// Every descendant (and the root) whose objectName equals `name`.
std::vector<QWidget*> findAllNamed(const QObject* root, std::string_view name);

// True when `widget` is shown whenever its window is (it and every ancestor
// up to the window are not hidden) and has a non-zero size.
bool isShownWithSize(const QWidget* widget);

}  // namespace platform::ui
