#include "platform/ui/Bindings.h"

namespace platform::ui {
namespace {

class SubscriptionHolder : public QObject {
public:
    SubscriptionHolder(QObject* owner, Subscription s) : QObject(owner), subscription(std::move(s)) {}
    Subscription subscription;
};

}  // namespace

void tieToLifetime(QObject* owner, Subscription subscription) {
    if (owner) new SubscriptionHolder(owner, std::move(subscription));
}

TwoWayBinding<bool>& bindToggle(QAbstractButton* button, Property<bool> property) {
    button->setCheckable(true);
    auto* holder = new BindingHolder<bool>(button, std::move(property), [button](const bool& on) {
        button->setChecked(on);
    });
    QObject::connect(button, &QAbstractButton::toggled, holder,
                     [holder](bool on) { holder->binding.controlChanged(on); });
    holder->binding.start();
    return holder->binding;
}

TwoWayBinding<double>& bindSlider(FloatSlider* slider, Property<double> property) {
    auto* holder = new BindingHolder<double>(slider, std::move(property),
                                             [slider](const double& v) { slider->setValue(v); });
    QObject::connect(slider, &FloatSlider::valueEdited, holder,
                     [holder](double v) { holder->binding.controlChanged(v); });
    holder->binding.start();
    return holder->binding;
}

TwoWayBinding<float>& bindSlider(FloatSlider* slider, Property<float> property) {
    auto* holder = new BindingHolder<float>(slider, std::move(property),
                                            [slider](const float& v) { slider->setValue(v); });
    QObject::connect(slider, &FloatSlider::valueEdited, holder,
                     [holder](double v) { holder->binding.controlChanged(static_cast<float>(v)); });
    holder->binding.start();
    return holder->binding;
}

TwoWayBinding<std::string>& bindText(QLineEdit* field, Property<std::string> property) {
    auto* holder = new BindingHolder<std::string>(field, std::move(property), [field](const std::string& v) {
        const QString text = QString::fromStdString(v);
        if (field->text() != text) field->setText(text);  // an equal text keeps the caret where it is
    });
    QObject::connect(field, &QLineEdit::textChanged, holder,
                     [holder](const QString& text) { holder->binding.controlChanged(text.toStdString()); });
    holder->binding.start();
    return holder->binding;
}

}  // namespace platform::ui
