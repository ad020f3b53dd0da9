#include "dialogglyphs.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace veze6::dialogs {

namespace {

// Drawn on a 16 by 16 grid and scaled, so both renderings share one drawing.
template <class Paint>
QPixmap paintAt(Paint paint, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 16.0, size / 16.0);
  paint(painter);
  painter.end();
  return pixmap;
}

template <class Paint>
QIcon render(Paint paint) {
  QIcon icon;
  for (int size : {16, 32}) icon.addPixmap(paintAt(paint, size));
  return icon;
}

// A one-colour copy of pixmap: its shape in colour.
QPixmap silhouette(const QPixmap& pixmap, const QColor& colour) {
  QPixmap shape = pixmap;
  QPainter painter(&shape);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(shape.rect(), colour);
  return shape;
}

// As render, plus a greyed, etched rendering for the disabled state: a
// white shadow one pixel down and right under a grey shape, so a disabled
// button reads the same under every style.
template <class Paint>
QIcon renderWithDisabled(Paint paint) {
  QIcon icon = render(paint);
  for (int size : {16, 32}) {
    const QPixmap normal = paintAt(paint, size);
    QPixmap disabled(size, size);
    disabled.fill(Qt::transparent);
    QPainter painter(&disabled);
    const int offset = size / 16;
    painter.drawPixmap(offset, offset, silhouette(normal, Qt::white));
    painter.drawPixmap(0, 0, silhouette(normal, QColor(0x80, 0x80, 0x80)));
    painter.end();
    icon.addPixmap(disabled, QIcon::Disabled);
  }
  return icon;
}

const QColor kFolderLine(0x9a, 0x6b, 0x12);

QBrush folderBrush(qreal top, qreal bottom, QColor light, QColor dark) {
  QLinearGradient gradient(0, top, 0, bottom);
  gradient.setColorAt(0, light);
  gradient.setColorAt(1, dark);
  return gradient;
}

void paintClosedFolder(QPainter& p) {
  QPainterPath folder;
  folder.moveTo(1.5, 3.5);
  folder.lineTo(6.0, 3.5);
  folder.lineTo(7.5, 5.0);
  folder.lineTo(14.5, 5.0);
  folder.lineTo(14.5, 13.5);
  folder.lineTo(1.5, 13.5);
  folder.closeSubpath();
  p.setPen(QPen(kFolderLine, 1.0));
  p.setBrush(folderBrush(3.5, 13.5, QColor(0xf8, 0xdc, 0x7a), QColor(0xe0, 0xa5, 0x26)));
  p.drawPath(folder);
  p.setPen(QPen(QColor(0xfc, 0xec, 0xb4), 1.0));
  p.drawLine(QPointF(2.5, 6.5), QPointF(13.5, 6.5));
}

void paintOpenFolder(QPainter& p) {
  QPainterPath back;
  back.moveTo(1.5, 3.5);
  back.lineTo(6.0, 3.5);
  back.lineTo(7.5, 5.0);
  back.lineTo(13.5, 5.0);
  back.lineTo(13.5, 7.5);
  back.lineTo(1.5, 13.5);
  back.closeSubpath();
  p.setPen(QPen(kFolderLine, 1.0));
  p.setBrush(QColor(0xd9, 0x9a, 0x1f));
  p.drawPath(back);
  QPainterPath front;
  front.moveTo(4.0, 7.5);
  front.lineTo(15.5, 7.5);
  front.lineTo(12.5, 13.5);
  front.lineTo(1.5, 13.5);
  front.closeSubpath();
  p.setBrush(folderBrush(7.5, 13.5, QColor(0xfb, 0xe6, 0x98), QColor(0xec, 0xb9, 0x3c)));
  p.drawPath(front);
}

void paintFolderUp(QPainter& p) {
  paintClosedFolder(p);
  QPainterPath arrow;
  arrow.moveTo(8.0, 5.5);
  arrow.lineTo(11.5, 9.0);
  arrow.lineTo(9.3, 9.0);
  arrow.lineTo(9.3, 12.5);
  arrow.lineTo(6.7, 12.5);
  arrow.lineTo(6.7, 9.0);
  arrow.lineTo(4.5, 9.0);
  arrow.closeSubpath();
  p.setPen(QPen(QColor(0x14, 0x5a, 0x14), 0.8));
  p.setBrush(QColor(0x2e, 0x9b, 0x2e));
  p.drawPath(arrow);
}

void paintItem(QPainter& p) {
  QPainterPath tag;
  tag.moveTo(1.5, 8.0);
  tag.lineTo(5.0, 4.5);
  tag.lineTo(14.5, 4.5);
  tag.lineTo(14.5, 11.5);
  tag.lineTo(5.0, 11.5);
  tag.closeSubpath();
  tag.addEllipse(QPointF(5.2, 8.0), 1.1, 1.1);  // the tag's hole (odd-even fill)
  p.setPen(QPen(QColor(0x1f, 0x4e, 0x8c), 1.0));
  p.setBrush(folderBrush(4.5, 11.5, QColor(0x7f, 0xb2, 0xeb), QColor(0x3a, 0x7c, 0xcc)));
  p.drawPath(tag);
  p.setPen(QPen(QColor(0xe8, 0xf1, 0xfb), 1.0));
  p.drawLine(QPointF(8.0, 8.0), QPointF(12.5, 8.0));
}

void paintTick(QPainter& p) {
  p.setPen(QPen(QColor(0x2e, 0x9b, 0x2e), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  const QPointF tick[] = {{3.0, 8.5}, {6.5, 12.0}, {13.0, 4.0}};
  p.drawPolyline(tick, 3);
}

void paintCrossedCircle(QPainter& p) {
  p.setPen(QPen(QColor(0xc6, 0x28, 0x28), 2.0, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(8.0, 8.0), 5.5, 5.5);
  p.drawLine(QPointF(4.2, 4.2), QPointF(11.8, 11.8));
}

void paintComputer(QPainter& p) {
  p.setPen(QPen(QColor(0x3c, 0x3c, 0x46), 1.0));
  p.setBrush(QColor(0xd8, 0xd8, 0xdc));
  p.drawRoundedRect(QRectF(1.5, 2.5, 13.0, 9.0), 1.0, 1.0);
  p.setBrush(folderBrush(3.5, 9.5, QColor(0x7f, 0xb2, 0xeb), QColor(0x2a, 0x5c, 0xaa)));
  p.drawRect(QRectF(3.5, 4.5, 9.0, 5.0));
  p.setBrush(QColor(0xa0, 0xa0, 0xa8));
  p.drawRect(QRectF(6.5, 11.5, 3.0, 1.5));
  p.drawRect(QRectF(3.5, 13.0, 9.0, 1.5));
}

// A plug from the left; plugged, it reaches into the socket on the right.
void paintPlug(QPainter& p, qreal reach) {
  p.setPen(QPen(QColor(0x3c, 0x3c, 0x46), 1.0));
  p.setBrush(QColor(0x9a, 0x9a, 0xa4));
  p.drawRect(QRectF(10.5, 3.5, 4.0, 9.0));  // the socket
  p.setPen(QPen(QColor(0x3c, 0x3c, 0x46), 1.6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(0.5, 8.0), QPointF(2.5, 8.0));  // the cable
  p.setPen(QPen(QColor(0x14, 0x3c, 0x14), 1.0));
  p.setBrush(QColor(0x2e, 0x9b, 0x2e));
  p.drawRect(QRectF(2.5 + reach, 5.5, 4.0, 5.0));  // the plug's body
  p.setPen(QPen(QColor(0xc8, 0x96, 0x1e), 1.2));
  p.drawLine(QPointF(6.5 + reach, 6.8), QPointF(8.5 + reach, 6.8));  // the pins
  p.drawLine(QPointF(6.5 + reach, 9.2), QPointF(8.5 + reach, 9.2));
}

void paintConnect(QPainter& p) { paintPlug(p, 2.0); }

void paintDisconnect(QPainter& p) {
  paintPlug(p, -1.0);
  p.setPen(QPen(QColor(0xc6, 0x28, 0x28), 1.4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(8.5, 1.5), QPointF(9.5, 4.0));  // sparks of the broken link
  p.drawLine(QPointF(8.5, 14.5), QPointF(9.5, 12.0));
}

}  // namespace

QIcon ClosedFolderGlyph() { return render(paintClosedFolder); }
QIcon OpenFolderGlyph() { return render(paintOpenFolder); }
QIcon FolderUpGlyph() { return render(paintFolderUp); }
QIcon ItemGlyph() { return render(paintItem); }
QIcon TickGlyph() { return renderWithDisabled(paintTick); }
QIcon CrossedCircleGlyph() { return renderWithDisabled(paintCrossedCircle); }
QIcon ComputerGlyph() { return render(paintComputer); }
QIcon ConnectGlyph() { return render(paintConnect); }
QIcon DisconnectGlyph() { return render(paintDisconnect); }

}  // namespace veze6::dialogs
