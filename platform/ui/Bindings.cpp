#include "platform/ui/Bindings.h"

namespace platform::ui {
namespace {

class SubscriptionHolder : public QObject {
public:
    SubscriptionHolder(QObject* owner, Subscription s) : QObject(owner), subscription(std::move(s)) {}
    Subscription subscription;
};

// Makes a binding a child of `control` that shows values with `show`, feeds
// it every value `signal` reports (as `toValue` turns it into a T), and
// starts it.
template <class T, class Control, class Arg, class Show, class ToValue>
TwoWayBinding<T>& attach(Control* control, void (Control::*signal)(Arg), Property<T> property, Show show,
                         ToValue toValue) {
    auto* holder = new BindingHolder<T>(control, std::move(property), std::move(show));
    QObject::connect(control, signal, holder,
                     [holder, toValue](Arg value) { holder->binding.controlChanged(toValue(value)); });
    holder->binding.start();
    return holder->binding;
}

}  // namespace

void tieToLifetime(QObject* owner, Subscription subscription) {
    if (owner) new SubscriptionHolder(owner, std::move(subscription));
}

TwoWayBinding<bool>& bindToggle(QAbstractButton* button, Property<bool> property) {
    button->setCheckable(true);
    return attach(
        button, &QAbstractButton::toggled, std::move(property), [button](const bool& on) { button->setChecked(on); },
        [](bool on) { return on; });
}

TwoWayBinding<double>& bindSlider(FloatSlider* slider, Property<double> property) {
    return attach(
        slider, &FloatSlider::valueEdited, std::move(property), [slider](const double& v) { slider->setValue(v); },
        [](double v) { return v; });
}

TwoWayBinding<float>& bindSlider(FloatSlider* slider, Property<float> property) {
    return attach(
        slider, &FloatSlider::valueEdited, std::move(property), [slider](const float& v) { slider->setValue(v); },
        [](double v) { return static_cast<float>(v); });
}

TwoWayBinding<std::string>& bindText(QLineEdit* field, Property<std::string> property) {
    return attach(
        field, &QLineEdit::textChanged, std::move(property),
        [field](const std::string& v) {
            const QString text = QString::fromStdString(v);
            if (field->text() != text) field->setText(text);  // an equal text keeps the caret where it is
        },
        [](const QString& text) { return text.toStdString(); });
}

}  // namespace platform::ui
