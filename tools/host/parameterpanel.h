#pragma once

#include "zrdeviceinterface.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QSet>
#include <QTimer>
#include <QVariant>
#include <QVector>

#include <memory>

class ConnectionBar;
class JogPad;
class QAction;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class ZRDeviceProperty;

// The parameter panel: one device from the plugin's factory, its parameters laid out in the
// editors they build themselves, and what a person at the machine needs around them: connect and
// disconnect, read and write, jogging, origin and task buttons, and a log of the device's
// messages.
//
// Nothing here waits. Reads and writes go out as a paced queue of frames; replies are applied to
// the parameters without a signal, so a timer looks for values that changed and refreshes just
// those editors, and a read is reported finished once its frames are out and the replies have had
// time to arrive.
//
// The panel owns the device. The factory belongs to the plugin and must outlive the panel.
class ParameterPanel : public QMainWindow {
    Q_OBJECT
public:
    explicit ParameterPanel(ZRDeviceInterface* factory, QWidget* parent = nullptr);
    ~ParameterPanel() override;

    ZRDeviceInterface* device() const { return m_device.get(); }
    ConnectionBar* connectionBar() const { return m_connection; }
    // True while the link is up and frames go out.
    bool isLinkUp() const { return m_linkUp; }
    // Frames of reads and writes still waiting for their turn.
    int pendingFrames() const { return m_outbox.size(); }

public slots:
    void connectTcp(const QString& address, quint16 port);
    void connectUsb(const QString& path);
    // Connects with what the connection bar holds.
    void connectDevice();
    // The contract has no call that closes a link; a device closes it when it is destroyed. So
    // the panel lets its device go and takes a fresh one from the factory, keeping the values.
    void disconnectDevice();

    // Asks the machine for every shown value; editors follow as the replies arrive.
    void readAll();
    // Stores the editors in their parameters and writes the parameters that changed.
    void writeChanges();
    // Reads or writes one parameter (with its members), by name.
    void readParameter(const QString& name);
    void writeParameter(const QString& name);
    // Writes the parameter whose editor has the keyboard focus.
    void writeFocusedParameter();

    // Sends the set command of a command parameter such as "TASK_STOP" at once.
    void sendCommand(const QString& name);

signals:
    void linkChanged(bool up);
    // The frames of a read are out and the replies had time to arrive.
    void readFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Outgoing {
        QByteArray frame;
        ZRDeviceProperty* parameter;
        bool write;
    };

    void takeDevice(const QHash<QByteArray, QVariant>& carried);
    void releaseDevice();
    void buildEditors();
    QWidget* buildColumn(const QStringList& names);
    void collect(const QByteArray& name, ZRDeviceProperty* parameter);
    QVector<ZRDeviceProperty*> subtree(ZRDeviceProperty* parameter) const;
    ZRDeviceProperty* parameterOfWidget(QWidget* widget) const;

    void read(const QVector<ZRDeviceProperty*>& parameters);
    void write(const QVector<ZRDeviceProperty*>& parameters);
    bool enqueue(const Outgoing& outgoing);
    void sendNext();
    void refreshEditors();

    void onMessage(ZRDeviceInterface::ZRDeviceMessage kind, const QString& text);
    void onRetStatus(const QByteArray& name, int ret);
    void onJog(int first, int second);
    void updateLinkState();
    void updateActions();
    void showTask();
    void log(const QString& source, const QString& text);
    QString describe(ZRDeviceProperty* parameter) const;

    ZRDeviceInterface* m_factory;
    std::unique_ptr<ZRDeviceInterface> m_device;
    bool m_releasing = false;

    // Every parameter shown, group members included, in layout order, with its name.
    QVector<ZRDeviceProperty*> m_shown;
    QHash<ZRDeviceProperty*, QByteArray> m_names;
    // Parameters with an editor of their own (not groups), and the value each editor shows.
    QVector<ZRDeviceProperty*> m_leaves;
    QHash<ZRDeviceProperty*, QVariant> m_shownValues;
    QHash<QWidget*, ZRDeviceProperty*> m_editorOwners;
    QSet<ZRDeviceProperty*> m_changed;

    QList<Outgoing> m_outbox;
    QTimer m_pacer;
    QTimer m_refresh;
    QTimer m_settle;
    bool m_readPending = false;

    bool m_linkUp = false;
    bool m_connecting = false;

    ConnectionBar* m_connection;
    QScrollArea* m_parameters;
    JogPad* m_jog;
    QList<QPushButton*> m_commandButtons;
    QLabel* m_task;
    QPlainTextEdit* m_log;
    QLabel* m_link;
    QAction* m_readAction;
    QAction* m_writeAction;
    QAction* m_writeFieldAction;
};
