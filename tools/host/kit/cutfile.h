#pragma once

#include "pltoutline.h"

#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QString>

// A cut file for a job, the one place the host reads cut files: its HP-GL text, its outline,
// its figures and what the device is told about it ("TASK_FILE_INFO" and "FILE_PREVIEW").
class CutFile {
public:
    // Files beyond this are refused rather than read into memory whole.
    static constexpr qint64 maxBytes = 256 * 1024 * 1024;

    // Reads the file. One that cannot be read, or in which nothing is cut, gives an invalid
    // CutFile and the reason in *error.
    static CutFile read(const QString& path, QString* error);
    static CutFile fromData(const QString& name, const QByteArray& data);

    bool isValid() const { return !m_outline.isEmpty() && m_outline.cutSegmentCount() > 0; }
    QString name() const { return m_name; }
    QByteArray data() const { return m_data; }
    // The text setPlt() takes; the device writes it back to bytes in the local encoding.
    QString text() const { return QString::fromLocal8Bit(m_data); }
    const PltOutline& outline() const { return m_outline; }

    // "width" and "heigth" (so spelled: the cloud's work record reads that key) of what is cut,
    // and "path_length", the knife's cutting path, in whole millimetres, since the work record
    // reads them as integers; with "name", "bytes" and "travel_length" (pen-up moves, mm).
    QJsonObject fileInfo() const;
    // What the file cuts, dark on white, seen from above with y upwards, longSide pixels on the
    // longer side; travel moves are left out. Null when nothing is cut or there is no room.
    QImage preview(int longSide = 256) const;
    // The preview as PNG bytes, as the device is handed it.
    QByteArray previewPng(int longSide = 256) const;

private:
    QString m_name;
    QByteArray m_data;
    PltOutline m_outline;
};
