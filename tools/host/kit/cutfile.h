#pragma once

#include "request.h"
#include "shop.h"

#include <zrcutfile.h>

#include <QImage>
#include <QJsonObject>
#include <QObject>
#include <QPoint>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QThread;
class ZRDeviceInterface;

// A part of progress: its reports of 0 to 100 become from to to.
ZRCut::Progress progressPart(const ZRCut::Progress& progress, int from, int to);

// What a cut depends on at the machine: its table, and the tool and speeds of the station that
// cuts. Read names() from the machine first; of() takes what the device then holds.
struct CutMachine {
    int station = 1;
    QSizeF workArea; // mm; empty when the machine tells none
    bool dragKnife = false; // the station holds the drag knife (tool type 0)
    double cutSpeed = 0; // mm/s, the station's
    double travelSpeed = 0; // mm/s, PU_SPEED

    static QStringList names(int station);
    static CutMachine of(ZRDeviceInterface* device, int station);
};

// How the person wants a file cut: which layers, where and how many on the table, in which
// order, and the drag knife's aids.
struct CutSettings {
    ZRCut::LayerChoice layers;
    ZRCut::Placement placement;
    bool optimizeOrder = true;
    QStringList layerOrder;
    ZRCut::KnifeOptions knife;
    ShopSettings shop;
};

// A cut file for a job, the one place the host reads cut files: SVG, DXF or HP-GL read into a
// drawing, placed on the machine's table and ordered, written as the HP-GL the machine takes,
// with its figures, its pictures and what the device is told about it. The three steps may take
// long on a big file: they run on any thread, report progress and give up soon after progress's
// cancel flag is raised.
class CutFile {
public:
    // The names the open dialog offers: "*.svg", "*.dxf", "*.plt", ...
    static QStringList patterns();

    // Reads the file, its text as outlines or left out. False with the reason, naming the file,
    // in *error.
    bool read(const QString& path, QString* error, const ZRCut::Progress& progress = {},
        ZRCut::TextMode text = ZRCut::TextMode::Outline);
    // Reads several files to be nested together (at most 100), in this order.
    bool read(const QStringList& paths, QString* error, const ZRCut::Progress& progress = {},
        ZRCut::TextMode text = ZRCut::TextMode::Outline);
    // Takes HP-GL written for the machine (a job handed on by a client) as planned and written,
    // in its own order. False with the reason, naming the file, in *error.
    bool readWritten(const QString& name, const QByteArray& hpgl, QString* error);
    // Places what was read on the machine's table and orders the cut. False with the reason when
    // the result leaves the table or the knife aids are asked of a knife that is not dragged;
    // the earlier plan is gone either way. With the shop's transforms the plan is one or more
    // sheets (or tiles), the first one current; several files are cut together only nested.
    bool plan(const CutSettings& settings, const CutMachine& machine, QString* error,
        const ZRCut::Progress& progress = {});
    // Writes the current sheet's cut as HP-GL, and the picture the device is handed. False only
    // when cancelled.
    bool write(QString* error, const ZRCut::Progress& progress = {});

    // The sheets (or tiles) planned, one after the other on the machine: the current one is
    // job(), write() and request(); choosing another drops what was written.
    int sheetCount() const { return m_sheets.size(); }
    int sheet() const { return m_sheet; }
    void selectSheet(int index);
    // What the shop's transforms did.
    const ShopReport& shop() const { return m_shop; }

    bool isRead() const { return !m_drawings.isEmpty(); }
    bool isPlanned() const { return !m_job.steps.isEmpty(); }
    QString name() const { return m_name; }
    // The first file's drawing.
    const ZRCut::Drawing& drawing() const;
    const ZRCut::CutJob& job() const { return m_job; }
    QByteArray hpgl() const { return m_hpgl; }
    // Seconds the machine takes for one copy of the planned cut; -1 while a speed is unknown.
    double seconds() const;
    // The drawing is no longer needed once written: the job keeps what its pictures need.
    void dropSource() { m_drawings.clear(); }
    // What a person should know before the knife goes down: what the reader left out or stood in
    // for (text, pictures, fonts), and the checks of the planned cut (open contours, segments cut
    // twice, small pieces).
    QStringList notes() const { return m_warnings + m_job.checks.notes(); }

    // "width" and "heigth" (so spelled: the cloud's work record reads that key) of what is cut,
    // and "path_length", the knife's cutting path, in whole millimetres, since the work record
    // reads them as integers; with "name", "bytes" (of the HP-GL) and "travel_length" (mm).
    QJsonObject fileInfo() const;
    // The planned cut, dark on white, y upwards, longSide pixels on the longer side, with pen-up
    // travel in red unless left out. Null when cancelled.
    QImage picture(int longSide, bool travel = true, const ZRCut::Progress& progress = {}) const;
    // Every sheet (or tile, as they lie in the design) to scale with its edge, side by side within
    // bounds; without sheets, picture() of the longer side. Null when cancelled.
    QImage overview(const QSize& bounds, const ZRCut::Progress& progress = {}) const;
    // The written cut's picture for the device: 256 pixels, travel left out, as PNG.
    QByteArray previewPng() const { return m_png; }
    // The job for the machine: the written HP-GL with its name, figures and picture.
    Request request(int copies) const;

private:
    bool planShop(const QVector<ZRCut::Drawing>& chosen, const CutSettings& settings,
        const CutMachine& machine, QString* error, const ZRCut::Progress& progress);

    QString m_name;
    QVector<ZRCut::Drawing> m_drawings;
    QStringList m_warnings;
    CutMachine m_machine;
    ZRCut::CutJob m_job;
    QVector<ZRCut::CutJob> m_sheets;
    QVector<QPoint> m_cells; // where each sheet is shown in the overview
    QSizeF m_sheetSize; // the sheet's or tile's, when there are sheets
    int m_sheet = 0;
    ShopReport m_shop;
    QByteArray m_hpgl;
    QByteArray m_png;
};

// Work on a cut file on a thread of its own, so that a big file leaves the host answering: the
// work gets a Progress whose reports come back as progress() and whose cancel flag cancel()
// raises; finished() tells the end. One piece of work at a time; the object waits for it when it
// goes. Connect with a receiver (a context object), so that the signals arrive on its thread.
class CutWork : public QObject {
    Q_OBJECT
public:
    using Work = std::function<bool(const ZRCut::Progress& progress, QString* error)>;

    explicit CutWork(QObject* parent = nullptr);
    ~CutWork() override;

    // False when work is still running.
    bool start(const Work& work);
    void cancel() { m_cancel = true; }
    bool isRunning() const { return m_thread != nullptr; }
    bool isCancelled() const { return m_cancel; }
    // The reason the last work failed.
    QString errorString() const { return m_error; }

signals:
    void progress(int percent);
    void finished(bool ok);

private:
    std::unique_ptr<QThread> m_thread;
    std::atomic_bool m_cancel { false };
    bool m_ok = false;
    QString m_error;
};
