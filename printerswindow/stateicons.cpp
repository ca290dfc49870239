#include "stateicons.h"

#include <commands/printerlistmodel.h>

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

#include <cmath>

namespace PrintersWindow {

using Commands::PrinterState;

namespace {

enum class Shape { Circle, Triangle, Square, Octagon, Ring };

// The shape and the mark on it, drawn on a 16-unit grid.
struct Look
{
    Shape shape;
    QString mark;
};

Look lookOf(PrinterState state)
{
    switch (state) {
    case PrinterState::Ready:
        return {Shape::Circle, QStringLiteral("✓")};
    case PrinterState::PaperNearEnd:
        return {Shape::Triangle, QStringLiteral("!")};
    case PrinterState::PaperOut:
        return {Shape::Square, QStringLiteral("P")};
    case PrinterState::CoverOpen:
        return {Shape::Square, QStringLiteral("C")};
    case PrinterState::Offline:
        return {Shape::Circle, QStringLiteral("–")};
    case PrinterState::Error:
        return {Shape::Octagon, QStringLiteral("×")};
    case PrinterState::NotAnswering:
        return {Shape::Circle, QStringLiteral("?")};
    case PrinterState::CannotHear:
        return {Shape::Ring, QStringLiteral("/")};
    case PrinterState::Unknown:
        break;
    }
    return {Shape::Ring, QStringLiteral("…")};
}

// The icon's own colour: the state's colour at full strength, so that the mark stands out.
QColor iconColour(PrinterState state)
{
    switch (state) {
    case PrinterState::Ready:
        return QColor(0x2e, 0x7d, 0x32);
    case PrinterState::PaperNearEnd:
        return QColor(0xef, 0x8f, 0x00);
    case PrinterState::PaperOut:
    case PrinterState::CoverOpen:
        return QColor(0xd8, 0x43, 0x15);
    case PrinterState::Offline:
        return QColor(0x61, 0x61, 0x61);
    case PrinterState::Error:
        return QColor(0xc6, 0x28, 0x28);
    case PrinterState::NotAnswering:
        return QColor(0x54, 0x6e, 0x7a);
    case PrinterState::CannotHear:
        return QColor(0x6d, 0x4c, 0x41);
    case PrinterState::Unknown:
        break;
    }
    return QColor(0x9e, 0x9e, 0x9e);
}

QPainterPath outline(Shape shape)
{
    QPainterPath path;
    switch (shape) {
    case Shape::Circle:
    case Shape::Ring:
        path.addEllipse(QRectF(1, 1, 14, 14));
        break;
    case Shape::Triangle:
        path.addPolygon(QPolygonF({QPointF(8, 0.5), QPointF(15.5, 15), QPointF(0.5, 15)}));
        path.closeSubpath();
        break;
    case Shape::Square:
        path.addRoundedRect(QRectF(1, 1, 14, 14), 2, 2);
        break;
    case Shape::Octagon: {
        QPolygonF octagon;
        for (int i = 0; i < 8; ++i) {
            const double angle = (22.5 + 45 * i) * M_PI / 180;
            octagon << QPointF(8 + 7.5 * std::cos(angle), 8 + 7.5 * std::sin(angle));
        }
        path.addPolygon(octagon);
        path.closeSubpath();
        break;
    }
    }
    return path;
}

QPixmap drawIcon(PrinterState state, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    const Look look = lookOf(state);
    const QColor colour = iconColour(state);
    p.setPen(QPen(colour, 1.2));
    p.setBrush(look.shape == Shape::Ring ? QBrush(Qt::white) : QBrush(colour));
    p.drawPath(outline(look.shape));
    QFont font = p.font();
    font.setPixelSize(11);
    font.setBold(true);
    p.setFont(font);
    p.setPen(look.shape == Shape::Ring ? colour : QColor(Qt::white));
    p.drawText(
            QRectF(0, look.shape == Shape::Triangle ? 2 : 0, 16, 16), Qt::AlignCenter, look.mark);
    return pixmap;
}

} // namespace

QColor stateColour(PrinterState state)
{
    switch (state) {
    case PrinterState::Ready:
        return QColor(0xc8, 0xe6, 0xc9);
    case PrinterState::PaperNearEnd:
        return QColor(0xff, 0xe0, 0x82);
    case PrinterState::PaperOut:
    case PrinterState::CoverOpen:
        return QColor(0xff, 0xcc, 0xbc);
    case PrinterState::Offline:
        return QColor(0xe0, 0xe0, 0xe0);
    case PrinterState::Error:
        return QColor(0xef, 0x9a, 0x9a);
    case PrinterState::NotAnswering:
        return QColor(0xcf, 0xd8, 0xdc);
    case PrinterState::CannotHear:
        return QColor(0xd7, 0xcc, 0xc8);
    case PrinterState::Unknown:
        break;
    }
    return QColor(0xf5, 0xf5, 0xf5);
}

QIcon stateIcon(PrinterState state)
{
    QIcon icon;
    for (const int size : {16, 24, 32})
        icon.addPixmap(drawIcon(state, size));
    return icon;
}

QVariant StateDecoration::data(const QModelIndex &index, int role) const
{
    using Model = Commands::PrinterListModel;
    if (index.column() == Model::StateColumn
        && (role == Qt::DecorationRole || role == Qt::BackgroundRole
            || role == Qt::ForegroundRole)) {
        const auto state = PrinterState(QIdentityProxyModel::data(index, Model::StateRole).toInt());
        if (role == Qt::DecorationRole) {
            // Drawn once each, when first shown.
            auto found = m_icons.constFind(int(state));
            if (found == m_icons.constEnd())
                found = m_icons.insert(int(state), stateIcon(state));
            return *found;
        }
        if (role == Qt::BackgroundRole)
            return stateColour(state);
        return QColor(Qt::black); // readable on every state's colour, dark themes included
    }
    return QIdentityProxyModel::data(index, role);
}

} // namespace PrintersWindow
