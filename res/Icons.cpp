#include "res/Icons.h"

#include "framework/CommandIds.h"
#include "res/Resource.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace Icons {
namespace {

using Draw = void (*)(QPainter&);

QIcon drawn(Draw draw)
{
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 16.0, size / 16.0);
        draw(p);
        icon.addPixmap(pm);
    }
    return icon;
}

void page(QPainter& p, const QColor& fill = Qt::white)
{
    QPainterPath path;
    path.moveTo(3, 1.5);
    path.lineTo(10, 1.5);
    path.lineTo(13, 4.5);
    path.lineTo(13, 14.5);
    path.lineTo(3, 14.5);
    path.closeSubpath();
    p.setPen(QPen(QColor(80, 80, 80), 1));
    p.setBrush(fill);
    p.drawPath(path);
}

void lines(QPainter& p, int from, int to)
{
    p.setPen(QPen(QColor(110, 110, 160), 1));
    for (int y = from; y <= to; y += 2)
        p.drawLine(QPointF(5, y + 0.5), QPointF(11, y + 0.5));
}

void drawNew(QPainter& p)
{
    page(p);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(240, 190, 0));
    p.drawEllipse(QPointF(11.5, 4.5), 3, 3);
}

void drawOpen(QPainter& p)
{
    p.setPen(QPen(QColor(120, 90, 20), 1));
    p.setBrush(QColor(235, 200, 100));
    p.drawRect(QRectF(1.5, 4.5, 12, 9));
    p.setBrush(QColor(250, 225, 140));
    QPolygonF lid({QPointF(3.5, 7.5), QPointF(15.5, 7.5), QPointF(13.5, 13.5), QPointF(1.5, 13.5)});
    p.drawPolygon(lid);
}

void drawSave(QPainter& p)
{
    p.setPen(QPen(QColor(30, 50, 110), 1));
    p.setBrush(QColor(70, 110, 200));
    p.drawRect(QRectF(1.5, 1.5, 13, 13));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 1.5, 7, 5));
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRectF(4.5, 9.5, 7, 5));
}

void drawParse(QPainter& p)
{
    page(p);
    lines(p, 4, 8);
    p.setPen(QPen(QColor(0, 140, 0), 2));
    p.drawLine(QPointF(6, 11.5), QPointF(8, 13.5));
    p.drawLine(QPointF(8, 13.5), QPointF(13, 8.5));
}

void drawRun(QPainter& p)
{
    p.setPen(QPen(QColor(0, 100, 0), 1));
    p.setBrush(QColor(40, 170, 40));
    p.drawPolygon(QPolygonF({QPointF(4, 2), QPointF(14, 8), QPointF(4, 14)}));
}

void drawStop(QPainter& p)
{
    p.setPen(QPen(QColor(130, 0, 0), 1));
    p.setBrush(QColor(210, 30, 30));
    p.drawRect(QRectF(3.5, 3.5, 9, 9));
}

void drawCut(QPainter& p)
{
    p.setPen(QPen(QColor(60, 60, 60), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(5, 1), QPointF(10, 10));
    p.drawLine(QPointF(11, 1), QPointF(6, 10));
    p.drawEllipse(QPointF(4.5, 12), 2.5, 2.5);
    p.drawEllipse(QPointF(11.5, 12), 2.5, 2.5);
}

void drawCopy(QPainter& p)
{
    p.setPen(QPen(QColor(80, 80, 80), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(1.5, 1.5, 8, 10));
    p.drawRect(QRectF(6.5, 4.5, 8, 10));
}

void drawPaste(QPainter& p)
{
    p.setPen(QPen(QColor(110, 80, 30), 1));
    p.setBrush(QColor(200, 160, 90));
    p.drawRect(QRectF(2.5, 2.5, 10, 12));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(6.5, 6.5, 8, 8));
    p.setBrush(QColor(150, 150, 150));
    p.drawRect(QRectF(5.5, 1.5, 4, 2));
}

void drawUndo(QPainter& p)
{
    p.setPen(QPen(QColor(30, 60, 150), 1.8));
    p.setBrush(Qt::NoBrush);
    QPainterPath arc;
    arc.moveTo(4, 7);
    arc.cubicTo(7, 2, 15, 4, 13, 11);
    p.drawPath(arc);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 60, 150));
    p.drawPolygon(QPolygonF({QPointF(1, 4), QPointF(7, 4), QPointF(3, 10)}));
}

void drawInsertStatement(QPainter& p)
{
    page(p);
    lines(p, 4, 6);
    p.setPen(QPen(QColor(0, 110, 190), 2));
    p.drawLine(QPointF(8, 8.5), QPointF(8, 14));
    p.drawLine(QPointF(5.25, 11.25), QPointF(10.75, 11.25));
}

void drawPrint(QPainter& p)
{
    p.setPen(QPen(QColor(70, 70, 70), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 1.5, 7, 5));
    p.setBrush(QColor(170, 170, 170));
    p.drawRect(QRectF(1.5, 6.5, 13, 6));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 10.5, 7, 4));
}

void drawProgram(QPainter& p)
{
    page(p, QColor(255, 255, 235));
    lines(p, 4, 12);
}

void drawMonitor(QPainter& p)
{
    p.setPen(QPen(QColor(50, 50, 50), 1));
    p.setBrush(QColor(30, 40, 60));
    p.drawRect(QRectF(1.5, 2.5, 13, 9));
    p.setPen(QPen(QColor(90, 220, 90), 1));
    p.drawLine(QPointF(3, 9), QPointF(6, 6));
    p.drawLine(QPointF(6, 6), QPointF(8, 8));
    p.drawLine(QPointF(8, 8), QPointF(13, 4));
    p.setPen(QPen(QColor(50, 50, 50), 1));
    p.drawLine(QPointF(5, 14.5), QPointF(11, 14.5));
}

void drawApp(QPainter& p)
{
    drawProgram(p);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 170, 40));
    p.drawPolygon(QPolygonF({QPointF(8, 7), QPointF(15, 11), QPointF(8, 15)}));
}

QIcon themed(const char* name, Draw fallback)
{
    return QIcon::fromTheme(QLatin1String(name), drawn(fallback));
}

} // namespace

QIcon command(int id)
{
    switch (id) {
    case Cmd::FileNew:
        return themed("document-new", drawNew);
    case Cmd::FileOpen:
        return themed("document-open", drawOpen);
    case Cmd::FileSave:
        return themed("document-save", drawSave);
    case Cmd::Parse:
        return drawn(drawParse);
    case Cmd::Run:
        return themed("media-playback-start", drawRun);
    case Cmd::Stop:
        return themed("process-stop", drawStop);
    case Cmd::EditCut:
        return themed("edit-cut", drawCut);
    case Cmd::EditCopy:
        return themed("edit-copy", drawCopy);
    case Cmd::EditPaste:
        return themed("edit-paste", drawPaste);
    case Cmd::EditUndo:
        return themed("edit-undo", drawUndo);
    case Cmd::InsertStatement:
        return drawn(drawInsertStatement);
    case Cmd::FilePrint:
        return themed("document-print", drawPrint);
    default:
        return QIcon();
    }
}

QIcon window(int resourceId)
{
    switch (resourceId) {
    case Res::ProgramDoc:
        return drawn(drawProgram);
    case Res::MonitorDoc:
        return drawn(drawMonitor);
    default:
        return drawn(drawApp);
    }
}

} // namespace Icons
