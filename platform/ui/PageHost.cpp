#include "platform/ui/PageHost.h"

#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include "platform/ui/Animations.h"

namespace platform::ui {

PageHost::PageHost(QWidget* parent) : QWidget(parent), layout_(new QVBoxLayout(this)) {
    setObjectName(QStringLiteral("pageHost"));
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
}

void PageHost::addPage(const std::string& key, Builder builder) { builders_[key] = std::move(builder); }

bool PageHost::showPage(const std::string& key) {
    if (!builders_.count(key)) return false;
    if (page_ && key == key_) return true;
    build(key);
    return true;
}

void PageHost::rebuild() {
    if (!key_.empty() && builders_.count(key_)) build(key_);
}

void PageHost::build(const std::string& key) {
    const bool fade = animationsEnabled() && fadeMs_ > 0 && page_ && isVisible() && !page_->size().isEmpty();
    QPixmap picture;
    if (fade) picture = page_->grab();

    if (page_) {
        // Deleted later: the call may come from a control of the old page.
        // Taken out of the tree now, so finders see only the new page.
        layout_->removeWidget(page_);
        page_->hide();
        page_->setParent(nullptr);
        page_->deleteLater();
    }
    if (fade_) fade_->deleteLater();

    key_ = key;
    page_ = builders_[key]();
    if (page_) {
        if (page_->objectName().isEmpty()) page_->setObjectName(QString::fromStdString(key));
        layout_->addWidget(page_);
        page_->show();
    }

    if (fade && !picture.isNull()) {
        auto* overlay = new QLabel(this);
        overlay->setObjectName(QStringLiteral("crossFade"));
        overlay->setPixmap(picture);
        overlay->setGeometry(rect());
        overlay->setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* effect = new QGraphicsOpacityEffect(overlay);
        overlay->setGraphicsEffect(effect);
        overlay->show();
        overlay->raise();
        fade_ = overlay;
        auto* animation = new QVariantAnimation(overlay);
        animation->setStartValue(1.0);
        animation->setEndValue(0.0);
        animation->setDuration(fadeMs_);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        connect(animation, &QVariantAnimation::valueChanged, effect,
                [effect](const QVariant& v) { effect->setOpacity(v.toDouble()); });
        connect(animation, &QVariantAnimation::finished, overlay, [this, overlay] {
            overlay->deleteLater();
            if (fade_ == overlay) fade_ = nullptr;
        });
        animation->start();
    }
    emit pageShown(QString::fromStdString(key_));
}

void PageHost::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (fade_) fade_->setGeometry(rect());
}

}  // namespace platform::ui
