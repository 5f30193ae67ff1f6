// The shop's transforms in a cut file's plan: nesting on sheets, tiles, weeding and bridges, and
// the picture of every sheet.

#include "cutfile.h"

#include <QPainter>

#include <cmath>

namespace {

// Copies set in rows and columns, fitting and nesting are ways to place a design; one at a time.
QString nestConflict(const CutSettings& settings)
{
    const ZRCut::Placement& placement = settings.placement;
    if (settings.shop.tile)
        return QStringLiteral("nesting fills sheets and tiling cuts one design larger than the "
                              "table; not both at once");
    if (placement.copies > 1)
        return QStringLiteral("nesting sets its own copies, not rows and columns");
    if (placement.fit)
        return QStringLiteral("nesting keeps the design's size; fitting it to the table is not "
                              "for a nest");
    return QString();
}

} // namespace

bool CutFile::planShop(const QVector<ZRCut::Drawing>& chosen, const CutSettings& settings,
    const CutMachine& machine, QString* error, const ZRCut::Progress& progress)
{
    const ShopSettings& shop = settings.shop;
    ZRCut::Placement placement = settings.placement;
    placement.knifeReachMm = settings.knife.bladeOffsetMm;
    ShopReport report;
    QVector<ZRCut::Drawing> pieces;
    QVector<QPoint> cells;
    QSizeF sheetSize;
    if (shop.nest) {
        *error = nestConflict(settings);
        if (!error->isEmpty())
            return false;
        ZRCut::NestOptions options;
        options.sheet = shop.sheet.isEmpty() ? machine.workArea : shop.sheet;
        if (options.sheet.isEmpty()) {
            *error = QStringLiteral("the machine tells no table, so a sheet's size must be given");
            return false;
        }
        if (!machine.workArea.isEmpty()
            && (options.sheet.width() > machine.workArea.width() + 1e-9
                || options.sheet.height() > machine.workArea.height() + 1e-9)) {
            *error = QStringLiteral("the %1 × %2 mm sheet is larger than the %3 × %4 mm table")
                         .arg(options.sheet.width())
                         .arg(options.sheet.height())
                         .arg(machine.workArea.width())
                         .arg(machine.workArea.height());
            return false;
        }
        options.spacingMm = shop.spacingMm;
        options.rotationsDeg = shop.rotationsDeg;
        options.useHoles = shop.useHoles;
        options.progress = progressPart(progress, 0, 50);
        // Each design turned, scaled and mirrored as asked, then nested.
        placement.copies = 1;
        placement.mode = ZRCut::PlaceMode::Origin;
        placement.marginMm = 0;
        placement.move = QPointF();
        QVector<ZRCut::NestDesign> designs;
        for (int i = 0; i < chosen.size(); ++i) {
            ZRCut::NestDesign design;
            design.copies = shop.copies.value(i, 1);
            if (!ZRCut::place(chosen.at(i), placement, QSizeF(), &design.drawing, error))
                return false;
            designs.append(design);
        }
        if (!ZRCut::nest(designs, options, &pieces, &report.nest, error))
            return false;
        report.nested = true;
        if (pieces.isEmpty()) {
            *error = QStringLiteral("no part fits on a sheet: %1")
                         .arg(report.nest.notes.join(QStringLiteral("; ")));
            return false;
        }
        const int columns
            = pieces.size() <= 4 ? pieces.size() : int(std::ceil(std::sqrt(pieces.size())));
        for (int i = 0; i < pieces.size(); ++i)
            cells.append(QPoint(i % columns, i / columns));
        report.kind = ShopReport::Sheets;
        sheetSize = options.sheet;
    } else if (shop.tile) {
        if (machine.workArea.isEmpty()) {
            *error = QStringLiteral("the machine tells no table, so there is no tile size");
            return false;
        }
        ZRCut::Drawing placed;
        if (!ZRCut::place(chosen.first(), placement, QSizeF(), &placed, error))
            return false;
        ZRCut::TileOptions options;
        options.tile = machine.workArea;
        options.overlapMm = shop.tileOverlapMm;
        options.markMm = qMin(options.markMm, shop.tileOverlapMm / 2);
        QVector<ZRCut::Tile> tiles;
        if (options.markMm <= 0) {
            *error = QStringLiteral("tiles overlap so that their registration marks match; an "
                                    "overlap of at least 1 mm is needed");
            return false;
        }
        if (!ZRCut::splitTiles(placed, options, &tiles, error))
            return false;
        int rows = 0;
        for (const ZRCut::Tile& tile : qAsConst(tiles))
            rows = qMax(rows, tile.row + 1);
        for (const ZRCut::Tile& tile : qAsConst(tiles)) {
            // A tile the design leaves empty has nothing to cut.
            if (tile.drawing.contours.isEmpty())
                continue;
            pieces.append(tile.drawing);
            cells.append(QPoint(tile.column, rows - 1 - tile.row));
        }
        report.kind = ShopReport::Tiles;
        sheetSize = machine.workArea;
    } else {
        pieces.resize(1);
        if (!ZRCut::place(chosen.first(), placement, machine.workArea, &pieces[0], error))
            return false;
    }

    QVector<ZRCut::CutJob> sheets;
    for (int i = 0; i < pieces.size(); ++i) {
        ZRCut::CutOptions options;
        options.optimizeOrder = settings.optimizeOrder;
        options.layerOrder = settings.layerOrder;
        options.knife = settings.knife;
        options.workArea = machine.workArea;
        options.progress = progressPart(progress, shop.nest ? 50 + 50 * i / int(pieces.size()) : 0,
            shop.nest ? 50 + 50 * (i + 1) / int(pieces.size()) : 100);
        ZRCut::CutJob job;
        if (!ZRCut::planCut(pieces.at(i), options, &job, error))
            return false;
        if (shop.weed) {
            ZRCut::WeedOptions weeding;
            weeding.frameMarginMm = shop.weedMarginMm;
            weeding.lines = Qt::Horizontal | Qt::Vertical;
            weeding.workArea = machine.workArea;
            ZRCut::WeedReport weeded;
            if (!ZRCut::addWeeding(&job, weeding, &weeded, error))
                return false;
            report.weeded = true;
            report.weeding.frame = report.weeding.frame || weeded.frame;
            report.weeding.lines += weeded.lines;
            report.weeding.lineLengthMm += weeded.lineLengthMm;
        }
        if (shop.bridges) {
            ZRCut::BridgeReport bridged;
            if (!ZRCut::addBridges(&job, shop.bridge, &bridged, error))
                return false;
            report.bridged = true;
            report.bridges.contours += bridged.contours;
            report.bridges.bridges += bridged.bridges;
            report.bridges.removedMm += bridged.removedMm;
            report.bridges.notes += bridged.notes;
        }
        sheets.append(std::move(job));
    }
    // A long list of corners too close for bridges tells a person no more than its first lines.
    if (report.bridges.notes.size() > 5)
        report.bridges.notes = report.bridges.notes.mid(0, 5)
            << QStringLiteral("... and %1 more contours with fewer bridges")
                   .arg(report.bridges.notes.size() - 5);
    report.count = sheets.size();
    m_machine = machine;
    m_sheets = std::move(sheets);
    m_cells = cells;
    m_sheetSize = sheetSize;
    m_shop = report;
    m_job = m_sheets.first();
    return true;
}

QImage CutFile::overview(const QSize& bounds, const ZRCut::Progress& progress) const
{
    if (m_cells.isEmpty())
        return picture(qMax(bounds.width(), bounds.height()), true, progress);
    int columns = 0;
    int rows = 0;
    for (const QPoint& cell : m_cells) {
        columns = qMax(columns, cell.x() + 1);
        rows = qMax(rows, cell.y() + 1);
    }
    // Sheets a twentieth of their size apart.
    const QSizeF pitch = m_sheetSize * 1.05;
    const QSizeF extent(pitch.width() * columns - m_sheetSize.width() * 0.05,
        pitch.height() * rows - m_sheetSize.height() * 0.05);
    const double scale = qMin(bounds.width() / extent.width(), bounds.height() / extent.height());
    const QSize one(int(m_sheetSize.width() * scale), int(m_sheetSize.height() * scale));
    QImage image(QSize(int(std::ceil(extent.width() * scale)),
                     int(std::ceil(extent.height() * scale))),
        QImage::Format_RGB32);
    if (image.isNull() || one.width() < 8 || one.height() < 8)
        return QImage();
    image.fill(QColor(0xd8, 0xd8, 0xd8));
    QPainter painter(&image);
    ZRCut::PreviewOptions options;
    options.area = QRectF(QPointF(), m_sheetSize);
    for (int i = 0; i < m_sheets.size(); ++i) {
        options.progress = progressPart(
            progress, 100 * i / int(m_sheets.size()), 100 * (i + 1) / int(m_sheets.size()));
        const QImage sheet = ZRCut::renderPreview(m_sheets.at(i), one, options);
        if (sheet.isNull())
            return QImage();
        const QPoint at(int(m_cells.at(i).x() * pitch.width() * scale),
            int(m_cells.at(i).y() * pitch.height() * scale));
        painter.drawImage(at, sheet);
        painter.setPen(QColor(0x90, 0x90, 0x90));
        painter.drawRect(QRect(at, sheet.size()).adjusted(0, 0, -1, -1));
    }
    return image;
}
