#pragma once

// Two-way bindings between controls and store properties (Property.h). Each
// binding belongs to its control and ends with it: the store subscription is
// released when the control is destroyed. The control shows the property's
// current value at once and every later value; what the user does is
// written to the property; neither direction echoes into the other.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QAbstractButton>
#include <QLineEdit>
#include <QObject>

#include "platform/runtime/Observable.h"
#include "platform/ui/FloatSlider.h"
#include "platform/ui/MenuPicker.h"
#include "platform/ui/PickerModel.h"
#include "platform/ui/Property.h"

namespace platform::ui {

// Keeps `subscription` until `owner` is destroyed.
void tieToLifetime(QObject* owner, Subscription subscription);

// Holds a binding as a child of its control.
template <class T>
class BindingHolder : public QObject {
public:
    BindingHolder(QObject* control, Property<T> property, std::function<void(const T&)> show)
        : QObject(control), binding(std::move(property), std::move(show)) {
        setObjectName(QStringLiteral("parlowen.binding"));
    }
    TwoWayBinding<T> binding;
};

// A checkable button (a Switch, a check box) and a Boolean.
TwoWayBinding<bool>& bindToggle(QAbstractButton* button, Property<bool> property);

// A slider and a real number (the control's value is kept exactly as stored).
TwoWayBinding<double>& bindSlider(FloatSlider* slider, Property<double> property);
TwoWayBinding<float>& bindSlider(FloatSlider* slider, Property<float> property);

// A text field and a text; every edit is written.
TwoWayBinding<std::string>& bindText(QLineEdit* field, Property<std::string> property);

// A menu picker and an optional value: the picker shows the first entry
// whose tag equals the value (the absent entry for no value; an empty
// selection when no entry carries it), and choosing an entry writes its tag.
// Entries can be replaced while bound (a device list that changes).
template <class T>
class PickerBinding : public QObject {
public:
    PickerBinding(MenuPicker* picker, std::vector<PickerEntry<T>> entries, Property<std::optional<T>> property)
        : QObject(picker),
          picker_(picker),
          model_(std::move(entries)),
          binding_(std::move(property), [this](const std::optional<T>& v) { select(v); }) {
        setObjectName(QStringLiteral("parlowen.binding"));
        fillItems();
        QObject::connect(picker, &MenuPicker::entryChosen, this, [this](int index) { chosen(index); });
        binding_.start();
    }

    void setEntries(std::vector<PickerEntry<T>> entries) {
        model_.setEntries(std::move(entries));
        fillItems();
        select(binding_.property().get());
    }
    const PickerModel<T>& model() const { return model_; }

private:
    void fillItems() {
        std::vector<MenuPicker::Item> items;
        for (const auto& e : model_.entries()) {
            using K = typename PickerEntry<T>::Kind;
            const auto kind = e.kind == K::header      ? MenuPicker::Item::Kind::header
                              : e.kind == K::separator ? MenuPicker::Item::Kind::separator
                                                       : MenuPicker::Item::Kind::option;
            items.push_back({QString::fromStdString(e.label), kind, e.enabled});
        }
        picker_->setItems(items);
    }
    void select(const std::optional<T>& value) {
        auto index = model_.indexOf(value);
        picker_->setCurrentEntry(index ? std::optional<int>(static_cast<int>(*index)) : std::nullopt);
    }
    void chosen(int index) {
        if (index < 0) return;
        if (auto value = model_.choice(static_cast<std::size_t>(index))) binding_.controlChanged(*value);
        // Whatever was chosen, the picker shows what the store holds.
        select(binding_.property().get());
    }

    MenuPicker* picker_;
    PickerModel<T> model_;
    TwoWayBinding<std::optional<T>> binding_;
};

template <class T>
PickerBinding<T>* bindPicker(MenuPicker* picker, std::vector<PickerEntry<T>> entries,
                             Property<std::optional<T>> property) {
    return new PickerBinding<T>(picker, std::move(entries), std::move(property));
}

// A property that always has a value, seen as an optional one: entries
// without a tag (absent entries) cannot be chosen.
template <class T>
Property<std::optional<T>> asOptional(Property<T> property) {
    auto p = std::make_shared<Property<T>>(std::move(property));
    return Property<std::optional<T>>(
        [p] { return std::optional<T>(p->get()); },
        [p](std::optional<T> v) {
            if (v) p->set(std::move(*v));
        },
        p->changes().map([](const T& v) { return std::optional<T>(v); }));
}

template <class T>
PickerBinding<T>* bindPicker(MenuPicker* picker, std::vector<PickerEntry<T>> entries, Property<T> property) {
    return bindPicker<T>(picker, std::move(entries), asOptional(std::move(property)));
}

}  // namespace platform::ui
