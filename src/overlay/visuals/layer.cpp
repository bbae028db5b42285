#include "overlay/visuals/layer.hpp"

#include <algorithm>

namespace pavo::overlay {

Layer::~Layer() {
    for (const auto& sublayer : sublayers_) sublayer->superlayer_ = nullptr;
}

QRectF Layer::frame() const {
    const QPointF origin(position.x() - anchorPoint.x() * bounds.width(),
                         position.y() - anchorPoint.y() * bounds.height());
    return QRectF(origin, bounds.size());
}

void Layer::setFrame(const QRectF& frame) {
    bounds.setSize(frame.size());
    position =
        QPointF(frame.x() + anchorPoint.x() * frame.width(), frame.y() + anchorPoint.y() * frame.height());
}

void Layer::addSublayer(std::shared_ptr<Layer> layer) {
    insertSublayer(std::move(layer), sublayers_.size());
}

void Layer::insertSublayer(std::shared_ptr<Layer> layer, std::size_t index) {
    if (!layer || layer.get() == this) return;
    layer->removeFromSuperlayer();
    layer->superlayer_ = this;
    sublayers_.insert(sublayers_.begin() + static_cast<std::ptrdiff_t>(std::min(index, sublayers_.size())),
                      std::move(layer));
}

void Layer::removeFromSuperlayer() {
    Layer* parent = std::exchange(superlayer_, nullptr);
    if (!parent) return;
    // The parent's reference may be the last one: keep this layer alive until the erase is done.
    std::shared_ptr<Layer> self;
    auto& siblings = parent->sublayers_;
    auto found =
        std::find_if(siblings.begin(), siblings.end(), [this](const auto& l) { return l.get() == this; });
    if (found == siblings.end()) return;
    self = std::move(*found);
    siblings.erase(found);
}

void Layer::removeAllSublayers() {
    for (const auto& sublayer : sublayers_) sublayer->superlayer_ = nullptr;
    sublayers_.clear();
}

void Layer::addAnimation(std::string key, Animation animation) {
    removeAnimation(key);
    animations_.emplace_back(std::move(key), std::move(animation));
}

void Layer::removeAnimation(std::string_view key) {
    std::erase_if(animations_, [key](const auto& entry) { return entry.first == key; });
}

const Animation* Layer::animation(std::string_view key) const {
    for (const auto& [name, animation] : animations_) {
        if (name == key) return &animation;
    }
    return nullptr;
}

std::vector<std::string> Layer::animationKeys() const {
    std::vector<std::string> keys;
    for (const auto& entry : animations_) keys.push_back(entry.first);
    return keys;
}

AnimatedValue Layer::presented(std::string_view key, AnimatedValue model, double time) const {
    for (const auto& entry : animations_) {
        if (auto value = entry.second.valueAt(key, time); value && value->index() == model.index()) {
            model = std::move(*value);
        }
    }
    return model;
}

double Layer::presentedOpacity(double time) const {
    if (animations_.empty()) return opacity;
    return std::clamp(std::get<double>(presented(kOpacity, opacity, time)), 0.0, 1.0);
}

double Layer::presentedScale(double time) const {
    if (animations_.empty()) return scale;
    return std::get<double>(presented(kScale, scale, time));
}

QPointF Layer::presentedPosition(double time) const {
    if (animations_.empty()) return position;
    return std::get<QPointF>(presented(kPosition, position, time));
}

ColorList Layer::presentedColors(double time) const {
    if (!gradient) return {};
    if (animations_.empty()) return gradient->colors;
    return std::get<ColorList>(presented(kColors, gradient->colors, time));
}

QRectF Layer::presentedFrame(double time) const {
    const double s = presentedScale(time);
    const QSizeF size = bounds.size() * s;
    const QPointF at = presentedPosition(time);
    return QRectF(QPointF(at.x() - anchorPoint.x() * size.width(), at.y() - anchorPoint.y() * size.height()),
                  size);
}

void Layer::pruneFinished(double time) {
    std::erase_if(animations_, [time](const auto& entry) {
        return entry.second.removedOnCompletion && entry.second.finishedAt(time);
    });
    // A sublayer may remove itself while its tree is walked; walk a copy.
    for (const auto& sublayer : std::vector<std::shared_ptr<Layer>>(sublayers_))
        sublayer->pruneFinished(time);
}

Activity Layer::activity(double time) const {
    Activity result;
    auto note = [&result](const Activity& other) {
        result.running = result.running || other.running;
        if (other.nextStart && (!result.nextStart || *other.nextStart < *result.nextStart)) {
            result.nextStart = other.nextStart;
        }
    };
    for (const auto& entry : animations_) {
        const Animation& a = entry.second;
        if (a.finishedAt(time)) continue;
        if (time >= a.beginTime) {
            result.running = true;
        } else {
            note(Activity{false, a.beginTime});
        }
    }
    for (const auto& sublayer : sublayers_) note(sublayer->activity(time));
    return result;
}

}  // namespace pavo::overlay
