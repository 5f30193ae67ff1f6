#pragma once

#include <zrcutfile.h>

#include <QByteArray>
#include <QPointF>
#include <QVector>

// One cutting job: the copies ordered, the copies done and where the knife is on the current
// copy's path. Travel (pen up) takes no time; the job advances by millimetres of cut path.
//
// A file job cuts the same outline for every copy. A QR-code job gets a new outline for each
// copy and waits for it between copies.
class SimJob {
public:
    enum Kind { File, QrCode };

    SimJob(Kind kind, const QByteArray& name, int copies);

    Kind kind() const { return m_kind; }
    QByteArray name() const { return m_name; }
    void setName(const QByteArray& name) { m_name = name; }
    int copies() const { return m_copies; }
    int finished() const { return m_finished; }
    bool isDone() const { return m_finished >= m_copies; }

    // Hands over the drawing of the next copy; a QR-code job waits for one before each copy.
    void load(const ZRCut::Drawing& drawing);
    bool waitingForData() const { return !m_loaded && !isDone(); }

    // Cuts up to mm millimetres of path, crossing into following copies of a file job, and
    // returns how much was cut.
    double cut(double mm);
    double remainingInCopyMm() const;
    // Length of the cut path of one copy.
    double lengthMm() const { return m_length; }

    // Share of the whole job done, 0 to 100.
    double percent() const;
    // Where the knife is, in the file's millimetres.
    QPointF position() const { return m_position; }

private:
    Kind m_kind;
    QByteArray m_name;
    int m_copies;
    int m_finished = 0;
    // One straight move of the knife, cutting when penDown.
    struct Segment {
        QPointF from;
        QPointF to;
        bool penDown;
    };
    QVector<Segment> m_segments;
    double m_length = 0;
    bool m_loaded = false;
    int m_segment = 0;
    double m_along = 0; // into the current segment
    double m_cutInCopy = 0;
    QPointF m_position;
};
