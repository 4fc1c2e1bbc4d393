#include "platform/ui/LinuxAnnouncer.h"

#include <QtGlobal>

#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
#include <QAccessible>
#include <QApplication>
#include <QWidget>
#endif

namespace platform::ui {

void LinuxAnnouncer::announce(const std::string& text, AnnouncementPriority priority) {
    log_.info("announce priority={} text={}", static_cast<int>(priority), priv(text));
    // Qt sends announcements to AT-SPI only from 6.8 on; with older Qt (Debian
    // 12 has 6.4) the log line above is all there is.
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    if (!QAccessible::isActive() || !qApp) return;
    QObject* source = QApplication::activeWindow();
    if (!source) source = qApp;
    QAccessibleAnnouncementEvent event(source, QString::fromStdString(text));
    event.setPoliteness(priority == AnnouncementPriority::high ? QAccessible::AnnouncementPoliteness::Assertive
                                                               : QAccessible::AnnouncementPoliteness::Polite);
    QAccessible::updateAccessibility(&event);
#endif
}

}  // namespace platform::ui
