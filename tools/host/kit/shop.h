#pragma once

#include <zrtransforms.h>

#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVector>

// What a shop asks of a cut besides placing it: copies of its files nested on sheets of
// material, bridges that keep the parts in the sheet, weeding, and a design too large for the
// table cut in tiles. The command line and the panel fill it in; CutFile::plan() applies it.
struct ShopSettings {
    bool nest = false;
    QSizeF sheet; // mm; empty: the table
    double spacingMm = 2.0;
    QVector<double> rotationsDeg { 0.0 };
    bool useHoles = false;
    // Copies of each file on the sheets, in the files' order; a file beyond the list gets one.
    QVector<int> copies;

    bool bridges = false;
    ZRCut::BridgeOptions bridge;

    bool weed = false;
    double weedMarginMm = 5.0;

    bool tile = false;
    double tileOverlapMm = 10.0;

    // Any transform asked for: the plan is then one or more sheets (or tiles) of their own.
    bool any() const { return nest || bridges || weed || tile; }

    // The turns from a person's text: a list of degrees ("0,90,180,270") or one step ("45": 0,
    // 45, 90 ... 315; "0": no turning). False with the reason in *error.
    static bool parseRotations(const QString& text, QVector<double>* turns, QString* error);
    // "1200x600" (or with ×), mm, both above 0 and at most 100 m. False with the reason.
    static bool parseSheet(const QString& text, QSizeF* sheet, QString* error);
};

// What the transforms of a plan did, and the words a person reads about it, whichever front end
// shows them.
struct ShopReport {
    enum Kind { None, Sheets, Tiles };
    Kind kind = None;
    int count = 0; // sheets or tiles planned
    bool nested = false;
    ZRCut::NestReport nest;
    bool bridged = false;
    ZRCut::BridgeReport bridges; // over every sheet
    bool weeded = false;
    ZRCut::WeedReport weeding; // over every sheet

    // "sheet" or "tile", for the prompts between them.
    QString unit() const;
    // "Advance the material for sheet 2 of 3"
    QString advanceText(int next) const;
    // The material used, as shown: "63.2 %".
    QString materialText() const;
    // One line for each transform with its figures, then the nester's and the bridges' notes.
    QStringList lines() const;
};
