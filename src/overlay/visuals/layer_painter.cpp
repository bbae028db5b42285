#include "overlay/visuals/layer_painter.hpp"

#include <QLinearGradient>
#include <QPainter>
#include <QPen>

#include "overlay/visuals/layer.hpp"

namespace pavo::overlay {

namespace {

constexpr double kInvisible = 1.0 / 512;

QPainterPath roundedRect(const QRectF& rect, double radius) {
    QPainterPath path;
    if (radius > 0) {
        path.addRoundedRect(rect, radius, radius);
    } else {
        path.addRect(rect);
    }
    return path;
}

// A blurred shadow would need an offscreen blur per frame; a few widening translucent strokes look
// alike at these sizes for a fraction of the cost.
void paintShadow(QPainter& painter, const QPainterPath& path, const Shadow& shadow, double opacity) {
    if (shadow.opacity <= 0 || shadow.color.alphaF() <= 0) return;
    painter.save();
    painter.translate(shadow.offset);
    painter.setBrush(Qt::NoBrush);
    constexpr int kRings = 3;
    for (int ring = kRings; ring >= 1; --ring) {
        QColor color = shadow.color;
        color.setAlphaF(static_cast<float>(shadow.color.alphaF() * shadow.opacity / (kRings + 1)));
        painter.setOpacity(opacity);
        painter.setPen(
            QPen(color, 2 * shadow.radius * ring / kRings, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(path);
    }
    painter.restore();
}

void paintGradient(QPainter& painter, const Layer& layer, double time) {
    const QRectF b = layer.bounds;
    const GradientContent& g = *layer.gradient;
    const ColorList colors = layer.presentedColors(time);
    if (colors.empty()) return;
    auto at = [&b](QPointF unit) {
        return QPointF(b.x() + unit.x() * b.width(), b.y() + unit.y() * b.height());
    };
    QLinearGradient fill(at(g.startPoint), at(g.endPoint));
    for (std::size_t i = 0; i < colors.size(); ++i) {
        const double stop = i < g.locations.size()
                                ? g.locations[i]
                                : (colors.size() > 1 ? double(i) / double(colors.size() - 1) : 0.0);
        fill.setColorAt(stop, colors[i]);
    }
    painter.fillRect(b, fill);
}

void paintShape(QPainter& painter, const ShapeContent& shape, double opacity) {
    if (shape.shadow) paintShadow(painter, shape.path, *shape.shadow, opacity);
    painter.setOpacity(opacity);
    painter.setBrush(shape.fill ? QBrush(*shape.fill) : QBrush(Qt::NoBrush));
    painter.setPen(shape.stroke ? QPen(*shape.stroke, shape.lineWidth) : QPen(Qt::NoPen));
    painter.drawPath(shape.path);
}

void paintText(QPainter& painter, const Layer& layer, double opacity) {
    const QRectF b = layer.bounds;
    painter.save();
    // Text is drawn upright: undo the flip within the layer's bounds.
    painter.translate(0, 2 * b.y() + b.height());
    painter.scale(1, -1);
    painter.setOpacity(opacity);
    painter.setFont(layer.text->font);
    painter.setPen(layer.text->color);
    painter.drawText(b, Qt::AlignHCenter | Qt::AlignVCenter, layer.text->text);
    painter.restore();
}

void paintLayer(QPainter& painter, const Layer& layer, double time, double inheritedOpacity) {
    const double opacity = layer.presentedOpacity(time) * inheritedOpacity;
    if (opacity < kInvisible) return;
    painter.save();
    const QPointF at = layer.presentedPosition(time);
    const double scale = layer.presentedScale(time);
    const QRectF b = layer.bounds;
    painter.translate(at);
    if (scale != 1) painter.scale(scale, scale);
    painter.translate(-layer.anchorPoint.x() * b.width() - b.x(),
                      -layer.anchorPoint.y() * b.height() - b.y());

    if (layer.masksToBounds) painter.setClipPath(roundedRect(b, layer.cornerRadius), Qt::IntersectClip);
    if (layer.backgroundColor.alpha() > 0) {
        painter.setOpacity(opacity);
        painter.setPen(Qt::NoPen);
        painter.setBrush(layer.backgroundColor);
        painter.drawPath(roundedRect(b, layer.cornerRadius));
    }
    if (layer.gradient) {
        painter.setOpacity(opacity);
        paintGradient(painter, layer, time);
    }
    if (layer.shape) paintShape(painter, *layer.shape, opacity);
    if (layer.text) paintText(painter, layer, opacity);
    for (const auto& sublayer : layer.sublayers()) paintLayer(painter, *sublayer, time, opacity);
    painter.restore();
}

}  // namespace

void paintLayerTree(QPainter& painter, const Layer& root, double time, double height) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.translate(0, height);
    painter.scale(1, -1);
    paintLayer(painter, root, time, 1.0);
    painter.restore();
}

}  // namespace pavo::overlay
