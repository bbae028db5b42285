#pragma once
// Draws a layer tree with QPainter as it is at one media time.

class QPainter;

namespace pavo::overlay {

class Layer;

// `height` is the device's height in logical pixels: layer coordinates (origin bottom-left, y up) are
// flipped to the device's (origin top-left, y down). Layers at opacity 0 cost nothing, nor do their
// sublayers.
void paintLayerTree(QPainter& painter, const Layer& root, double time, double height);

}  // namespace pavo::overlay
