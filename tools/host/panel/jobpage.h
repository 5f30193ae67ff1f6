#pragma once

#include "cutfile.h"
#include "jobshop.h"
#include "session.h"
#include "ui_jobpage.h"
#include "units.h"

#include <QComboBox>
#include <QImage>
#include <QListWidget>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class PanelWindow;

// What the panel's job page does, as jobpage.ui lays it out: a cut file opened or dropped on
// the window, placed on the machine's table and drawn there to scale (cuts dark, pen-up travel
// red), its figures, and the job run on the machine through the session, with the machine's
// progress and the record it leaves; the shop's transforms (jobshop.h) with their figures, a
// job of several sheets or tiles cut one at a time as the person advances the material. Reading, planning, writing and drawing run on a thread of
// their own, so a big file leaves the window answering; Stop ends them as it ends a job.
class JobPage : public QObject {
    Q_OBJECT
public:
    JobPage(Session* session, PanelWindow* window, QObject* parent = nullptr);
    // The unit the figures are shown in (mm until told).
    void setUnits(Units::Unit units) { m_units = units; }

    void open(const QString& path);
    void start();
    // Ends the work on the file at once; asks before it stops a job.
    void stop();

    QWidget* page;
    Ui::JobPage form;

signals:
    // The file is read (or planned anew) and drawn, or it failed; no more work is waiting.
    void planned(bool ok);
    void jobEnded(int outcome); // a Result::Outcome

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showLayers();
    // In the order in which a later one includes the earlier ones.
    enum Stage { Idle, Drawing, Planning, Reading, Writing };

    void run(Stage stage);
    void workDone(bool ok);
    void readMachine(const std::function<void()>& then = {});
    void showFigures();
    void showReport(const TaskReport& report);
    void jobDone();
    // Between sheets (or tiles): asks the person to advance the material, then cuts the next.
    void askToAdvance();
    void updateControls();
    void say(const QString& text);
    CutSettings settings() const;

    Session* m_session;
    PanelWindow* m_window;
    CutWork m_work;
    Stage m_stage = Idle;
    Stage m_next = Idle;
    QString m_path;
    CutFile m_file; // as shown
    Units::Unit m_units = Units::Mm; // of the lengths shown
    CutFile m_pending; // the one the work changes
    QImage m_picture;
    CutMachine m_machine; // as last read; the default one while none is
    QComboBox* m_place; // where the design goes on the table
    QListWidget* m_layers; // the file's layers, each to cut or not
    ShopBox* m_shop;
    int m_nextSheet = 0; // the sheet Writing writes; 0 plans anew first
    QPointer<QMessageBox> m_advance;
    QTimer m_replan;
    QTimer m_redraw;
    QPointer<Reply> m_job;
};
