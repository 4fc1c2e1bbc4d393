#include "platform/ui/BecameActive.h"

#include <QGuiApplication>

namespace platform::ui {

struct QtBecameActiveSource::Connection {
    QMetaObject::Connection connection;
};

QtBecameActiveSource::QtBecameActiveSource() : connection_(std::make_unique<Connection>()) {
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connection_->connection =
            QObject::connect(app, &QGuiApplication::applicationStateChanged, app, [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive) handlers_.fire();
            });
}

QtBecameActiveSource::~QtBecameActiveSource() { QObject::disconnect(connection_->connection); }

}  // namespace platform::ui
