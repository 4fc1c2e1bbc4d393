#include "platform/ui/GSettingsReduceMotion.h"

#include <gio/gio.h>

#include "platform/log/Log.h"

namespace platform::ui {
namespace {

const Logger& motionLog() {
    static const Logger logger("com.kelvatrum.Parlowen", "ui.reduce-motion");
    return logger;
}

}  // namespace

struct GSettingsReduceMotion::Watch {
    GSettingsReduceMotion* owner = nullptr;
    GSettings* settings = nullptr;
    gulong handler = 0;
    Lifetime lifetime;

    bool read() const { return !g_settings_get_boolean(settings, kKey); }

    static void changed(GSettings*, const gchar*, gpointer data) {
        auto* watch = static_cast<Watch*>(data);
        const bool on = watch->read();
        watch->owner->main_.post(watch->lifetime.guard([watch, on] {
            if (watch->owner->value_.get() != on) watch->owner->value_.set(on);
        }));
    }
};

GSettingsReduceMotion::GSettingsReduceMotion(Executor& main) : main_(main) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();  // not owned
    GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, kSchema, TRUE) : nullptr;
    if (!schema || !g_settings_schema_has_key(schema, kKey)) {
        if (schema) g_settings_schema_unref(schema);
        motionLog().info("no {} schema with {}: reduce motion stays off", kSchema, kKey);
        return;
    }
    watch_ = std::make_unique<Watch>();
    watch_->owner = this;
    watch_->settings = g_settings_new_full(schema, nullptr, nullptr);
    g_settings_schema_unref(schema);
    const std::string signal = std::string("changed::") + kKey;
    watch_->handler = g_signal_connect(watch_->settings, signal.c_str(), G_CALLBACK(&Watch::changed), watch_.get());
    value_.set(watch_->read());
}

GSettingsReduceMotion::~GSettingsReduceMotion() {
    if (!watch_) return;
    watch_->lifetime.end();
    g_signal_handler_disconnect(watch_->settings, watch_->handler);
    g_object_unref(watch_->settings);
}

bool GSettingsReduceMotion::hasSchema() const { return watch_ != nullptr; }

}  // namespace platform::ui
