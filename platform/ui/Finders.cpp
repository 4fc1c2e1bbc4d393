#include "platform/ui/Finders.h"

#include <deque>

namespace platform::ui {
namespace {

QObject* findOne(QObject* root, const QString& name) {
    if (root->objectName() == name) return root;
    for (QObject* child : root->children())
        if (QObject* hit = findOne(child, name)) return hit;
    return nullptr;
}

}  // namespace

QObject* findNamedObject(const QObject* root, std::string_view path) {
    QObject* current = const_cast<QObject*>(root);
    std::size_t start = 0;
    while (current && start <= path.size()) {
        const std::size_t slash = path.find('/', start);
        const std::string_view step = path.substr(start, slash == std::string_view::npos ? path.npos : slash - start);
        current = findOne(current, QString::fromUtf8(step.data(), qsizetype(step.size())));
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return current;
}

std::vector<QWidget*> findAllNamed(const QObject* root, std::string_view name) {
    std::vector<QWidget*> out;
    const QString wanted = QString::fromUtf8(name.data(), qsizetype(name.size()));
    std::deque<QObject*> queue{const_cast<QObject*>(root)};
    while (!queue.empty()) {
        QObject* o = queue.front();
        queue.pop_front();
        if (o->objectName() == wanted)
            if (auto* w = qobject_cast<QWidget*>(o)) out.push_back(w);
        for (QObject* c : o->children()) queue.push_back(c);
    }
    return out;
}

bool isShownWithSize(const QWidget* widget) {
    if (!widget || widget->width() <= 0 || widget->height() <= 0) return false;
    return widget->isVisibleTo(widget->window());
}

}  // namespace platform::ui
