// The frame conventions of the three live views, painted with QPainter on
// the form's retained canvas: bevel shading, texts placed by their top-left
// corner, the channel legend and the marker pixel (0, 0). UI thread.
#pragma once

#include "analysis/plotgeometry.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>

#include <vector>

// The frame font: `family` at `pixelHeight` pixels. Tahoma and MS Sans Serif
// are looked up first among the installed fonts, then among the
// metric-compatible copies of the Wine font package; a plain sans font
// stands in when neither has them.
QFont FrameFont(const QString& family, int pixelHeight);

// Paints the canvas background, ready for a new frame.
void ClearFrameCanvas(QPainter& painter, const QColor& background);
void DrawShading(QPainter& painter, const std::vector<ShadeLine>& lines);
// Brush clear, text and pen black.
void BeginFrameText(QPainter& painter);
void DrawFrameText(QPainter& painter, const FrameText& text);
void DrawFrameTexts(QPainter& painter, const std::vector<FrameText>& texts);
// Grey underlay, coloured swatches in table entries 3 and 4, the two texts.
void DrawChannelLegend(QPainter& painter, const PlotRect& plot);
// The last step of every frame: canvas pixel (0, 0) black.
void SetFrameMarker(QImage& canvas);
