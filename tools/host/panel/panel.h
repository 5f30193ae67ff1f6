#pragma once

#include "session.h"
#include "zrdevicehost.h"

#include <QHash>
#include <QObject>

class QAction;

class PanelWindow;

// What the panel does: it keeps the window's widgets in step with the session. Nothing here
// waits; every request's answer arrives as a signal of its reply.
class Panel : public QObject {
    Q_OBJECT
public:
    Panel(Session* session, PanelWindow* window, QObject* parent = nullptr);

    // How the panel shows and takes every value, as the command line does: by the SDK's
    // description. fitEditor() puts a box with decimals in place of a whole-number box whose
    // factor makes fractions (pressure in gf); showValue() shows a value in the editor;
    // editorText() is what it holds, in the editors' units (a list's index), to be written.
    static QWidget* fitEditor(QWidget* built, const ZRDevice::Editor& description);
    static void showValue(
        QWidget* editor, const ZRDevice::Editor& description, const QVariant& value);
    static QString editorText(QWidget* editor);

signals:
    void readFinished(bool answered);

private:
    void buildEditors();
    void connectMachine();
    void disconnectMachine();
    // Asks the machine for the named values; the editors follow as the answers arrive.
    void read(const QStringList& names);
    // Writes what the named editors hold.
    void write(const QList<QByteArray>& names);
    void send(Request::Kind kind, int x = 0, int y = 0);
    void readHistory();
    void showValues(const QList<QByteArray>& names);
    void markEdited(const QByteArray& name, bool edited);
    void updateControls();
    void showJob(const QJsonObject& job, bool atEnd = false);
    QJsonObject selectedJob() const;
    void updateCutRest();
    void cutRest();
    // Tells why the reply failed, as told says, in the log and the status bar; else false.
    bool failed(Reply* reply, const QString& told);
    void logProgress(const TaskReport& report);
    // The shown values with unwritten edits.
    QList<QByteArray> edited() const;
    // The shown values among names (a group: its members).
    QList<QByteArray> leaves(const QList<QByteArray>& names) const;

    Session* m_session;
    PanelWindow* m_window;
    QList<QByteArray> m_shown; // every shown value with an editor of its own, in layout order
    QHash<QByteArray, QWidget*> m_editors; // their editors
    QAction* m_rawMessages; // the log shows the machine's messages as sent
    QString m_lastProgress; // what the last progress line in the log told
};
