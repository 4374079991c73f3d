#pragma once

#include <QtQml/qqmlregistration.h>
#include <QColor>
#include <QImage>
#include <QQuickPaintedItem>

namespace pelorin::studio {

// One of our SVG symbols, drawn in a single colour: the icon theme's glyphs are dark and would
// vanish on the dark palette, so the shape comes from our drawing and the colour from the control.
class SymbolIcon : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString symbol READ symbol WRITE setSymbol NOTIFY symbolChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(bool valid READ valid NOTIFY symbolChanged)

  public:
    explicit SymbolIcon(QQuickItem* parent = nullptr);

    QString symbol() const { return symbol_; }
    void setSymbol(const QString& symbol);
    QColor color() const { return color_; }
    void setColor(const QColor& color);
    bool valid() const;

    void paint(QPainter* painter) override;

  signals:
    void symbolChanged();
    void colorChanged();

  private:
    QString symbol_;
    QColor color_ = Qt::white;
    QImage cached_;
    QString cachedKey_;
};

}  // namespace pelorin::studio
