#pragma once
// A small tree of drawable layers. Geometry is in the superlayer's coordinates with the origin at the
// bottom left and y upwards; a layer sits with its anchor point (unit coordinates of its bounds) at its
// position. Model values are what was last set; the presented values at a media time add the layer's
// animations on top, the later-added winning.

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "overlay/visuals/animation.hpp"

namespace pavo::overlay {

struct Shadow {
    QColor color;
    double radius = 0;
    double opacity = 0;
    QPointF offset;
};

// A path in the layer's own coordinates, filled and/or stroked.
struct ShapeContent {
    QPainterPath path;
    std::optional<QColor> fill;
    std::optional<QColor> stroke;
    double lineWidth = 1;
    std::optional<Shadow> shadow;
};

// One line of text, centred in the layer's bounds.
struct TextContent {
    QString text;
    QFont font;
    QColor color;
};

// A linear gradient across the bounds; points in unit coordinates of the bounds.
struct GradientContent {
    ColorList colors;
    std::vector<double> locations;
    QPointF startPoint{0.5, 0.0};
    QPointF endPoint{0.5, 1.0};
};

// Whether anything would change on screen over time.
struct Activity {
    bool running = false;             // an animation is in effect now and still changing
    std::optional<double> nextStart;  // the earliest later begin time of one that has not started
};

class Layer : public std::enable_shared_from_this<Layer> {
  public:
    Layer() = default;
    virtual ~Layer();
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    QRectF bounds;
    QPointF position;
    QPointF anchorPoint{0.5, 0.5};
    double opacity = 1;
    double scale = 1;
    bool masksToBounds = false;
    QColor backgroundColor = Qt::transparent;
    double cornerRadius = 0;
    std::optional<ShapeContent> shape;
    std::optional<TextContent> text;
    std::optional<GradientContent> gradient;

    // The rectangle the layer covers in its superlayer (scale not applied); setting it moves the
    // position and resizes the bounds, keeping the bounds' origin.
    QRectF frame() const;
    void setFrame(const QRectF& frame);

    void addSublayer(std::shared_ptr<Layer> layer);
    void insertSublayer(std::shared_ptr<Layer> layer, std::size_t index);
    void removeFromSuperlayer();
    void removeAllSublayers();
    const std::vector<std::shared_ptr<Layer>>& sublayers() const { return sublayers_; }
    Layer* superlayer() const { return superlayer_; }

    // Replaces any animation under the same key; the new one goes last (in front).
    void addAnimation(std::string key, Animation animation);
    void removeAnimation(std::string_view key);
    const Animation* animation(std::string_view key) const;
    std::vector<std::string> animationKeys() const;

    double presentedOpacity(double time) const;
    double presentedScale(double time) const;
    QPointF presentedPosition(double time) const;
    ColorList presentedColors(double time) const;  // the gradient's colours; empty without a gradient
    QRectF presentedFrame(double time) const;

    // For the whole subtree: drops finished animations that are removed on completion, and reports
    // whether anything still changes.
    void pruneFinished(double time);
    Activity activity(double time) const;

  private:
    AnimatedValue presented(std::string_view key, AnimatedValue model, double time) const;

    std::vector<std::shared_ptr<Layer>> sublayers_;
    Layer* superlayer_ = nullptr;
    std::vector<std::pair<std::string, Animation>> animations_;
};

}  // namespace pavo::overlay
