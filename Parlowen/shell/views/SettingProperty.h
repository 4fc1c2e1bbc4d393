#pragma once

#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/ui/Property.h"

namespace parlowen {

// A setting of the preferences store as a bindable property (the store
// writes it to the user defaults when the control changes it). The setting
// must outlive the bindings made from the property.
template <class T>
platform::ui::Property<T> settingProperty(Setting<T>& setting) {
    return platform::ui::Property<T>([&setting] { return setting.get(); },
                                     [&setting](T value) { setting.set(std::move(value)); }, setting.stream());
}

}  // namespace parlowen
