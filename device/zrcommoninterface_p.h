#pragma once

#include "zrcommoninterface.h"

#include <QByteArray>
#include <QJsonObject>
#include <QPair>
#include <QQueue>
#include <QString>
#include <QVector>

// What a device keeps beyond its public members: the working state of the receive and send paths,
// and what it remembers of its catalogue to answer lookups quickly. Held behind the device's one
// private pointer, so that it can change without moving the public layout.
struct ZRCommonInterfacePrivate {
    // link/frames.cpp: bytes at the start of recv_buffer that decode_buffer() has dispatched and
    // not yet removed (a handler may re-enter it), and the text a short frame is decoded into.
    int recv_consumed = 0;
    QString recv_text;

    // link/frames.cpp: TCP frames waiting behind one too large to hand the socket at once, and
    // the bytes of the first already written.
    QQueue<QByteArray> send_queue;
    int send_written = 0;
    bool send_pumping = false;

    // protocol/dispatch.cpp: reply_candidates()' index, command number and parameter sorted by
    // number and, within a number, in creation order; stamped with the catalogue stamp it was
    // built under (0: not built).
    QVector<QPair<int, ZRDeviceProperty*>> reply_index;
    bool reply_walk_cut = false;
    quint64 reply_index_stamp = 0;

    // protocol/tasks.cpp: the task record last stored, while it holds the five task keys alone,
    // and its file name.
    QJsonObject task_record;
    QString task_file_name;

    // device/zrcommoninterface.cpp: the parameters last looked up by name in the device's thread
    // (null for a name not set), under the catalogue stamp they were looked up under.
    struct NamedParameter {
        char name[24];
        ZRDeviceProperty* parameter;
    };
    NamedParameter named_parameters[8] = {};
    int named_count = 0;
    int named_next = 0;
    quint64 named_stamp = 0;
};
