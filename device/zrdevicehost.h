#pragma once

#include "zrdeviceinterface.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

class ZRCommonInterface;

// What a host needs of a device beyond the contract, each fact in this one place: the lines a
// device reports its links with, the commands whose answers never reach a parameter, parameters
// shown and taken as text, the machine's progress reports, the device's registration with the
// cloud service, and the few calls of the device core the contract has no room for.
//
// Everything here works on devices made by this SDK's plugins, in the device's own thread.
namespace ZRDevice {

// ---- Status lines: message(DevStatus, line) -----------------------------------------------

constexpr char usbConnected[] = "USB CONNECTED.";
constexpr char usbDisconnected[] = "USB DISCONNECTED.";
constexpr char usbError[] = "USB ERROR.";
constexpr char tcpConnected[] = "TCP CONNECTED.";
constexpr char tcpDisconnected[] = "TCP DISCONNECTED.";
constexpr char channelConnected[] = "WEB SOCKET CONNECTED.";
constexpr char channelDisconnected[] = "WEB SOCKET DISCONNECTED.";
constexpr char channelError[] = "WEB SOCKET ERROR.";

// The machine's link came up, or went down (a USB error included).
bool isLinkUp(const QString& line);
bool isLinkDown(const QString& line);

// ---- Commands ------------------------------------------------------------------------------

// The cut quality register and the task control register: written by several parameters with
// fixed values, their answers never reach a parameter, so a host cannot see them.
constexpr int cutQualityCommand = 27;
constexpr int taskControlCommand = 125;
bool answerIsDropped(int commandNumber);

// ---- Parameters as text --------------------------------------------------------------------

// What a parameter's editor description ("WIDGET") and its command make of its value, for every
// surface that shows or takes values as text (a command line, a panel's fields, JSON). The shown
// number is the machine's times the factor, rounded to three decimals; a list shows its item; a
// one-register number whose editor goes below 0 shows signed. Text taken back gives the
// machine's number rounded to the nearest, so writing what is shown never changes the value.
// The parameters' own editors (create_ui_ctrl) read the same description.
struct Editor {
    enum Kind { None, SpinBox, DoubleSpinBox, ComboBox, LineEdit, Label, GroupBox, TabWidget };

    Kind kind = None;
    double min = 0; // spin boxes: the limits of the shown number
    double max = 0;
    double factor = 1; // shown = machine × factor; never 0
    QStringList items; // a list's items, as the description gives them
    bool oneRegister = false; // a CMD value of one 16-bit register
    bool isSigned = false; // one register holding a signed number (its editor goes below 0)
    bool writable = false; // the machine takes a value for it (CMD or CCMD with a set command)
    bool isCommand = false; // a command to the machine (jog, task control, origin), not a setting
    QString unit; // the parameter's unit text

    // The description of a parameter; name tells the commands from the settings.
    static Editor of(const ZRDeviceProperty* parameter, const QByteArray& name = QByteArray());

    // The number the editor stands for, value × factor (a signed register signed), unrounded.
    double shownNumber(const QVariant& value) const;
    // The value as a person reads it: in the editor's units, or the machine's number when raw.
    // Control characters are escaped, so the text is safe to show anywhere.
    QString text(const QVariant& value, bool raw = false) const;
    // The value for text typed in the editor's units (the machine's when raw), of the type current
    // has; invalid, with the reason in *error, when it is no number, not whole where it must be,
    // or outside the editor's limits or list.
    QVariant value(const QString& text, const QVariant& current, bool raw, QString* error) const;
};

// Control characters as \xNN and direction marks as \uNNNN, so that what a machine, a file or a
// peer sent cannot upset a terminal or a log, nor read as something else.
QString printable(const QString& text);

// ---- Progress reports: message(DevTasK, text) ----------------------------------------------

// One progress report of the machine: "66,<status>,<file>,<copies>,<finished>,<percent>,
// <seconds>,<x>,<y>", read the way the device reads it for its "TASK" record.
struct TaskReport {
    enum Status { Cutting = 1, Paused = 2, Finished = 3, Stopped = 4 };

    int status = 0;
    QString fileName;
    int copies = 0;
    int finished = 0;
    double percent = 0; // 0 to 100, as the machine sent it (its "TASK" record keeps it truncated)
    int seconds = 0; // of cutting, as the machine counts them
    QString text; // the report as the machine sent it

    // False for a text that is not a progress report; numbers that do not parse read as 0.
    static bool parse(const QString& text, TaskReport* report);

    bool isOver() const { return status == Finished || status == Stopped; }
    bool isRunning() const { return status == Cutting || status == Paused; }
    bool allCut() const { return copies > 0 && finished >= copies; }
    // From the machine's own cutting time and share done; -1 while unknown.
    qint64 secondsLeft() const;
};

// ---- Cloud registration --------------------------------------------------------------------

// How a device's registration with the cloud service stands. setCorvaneCloud() starts it: the
// model query, the lookup, then the creation or the update of the device's entry.
class Registration : public QObject {
    Q_OBJECT
public:
    enum State { NotStarted, Registering, Registered, Failed };
    Q_ENUM(State)

    explicit Registration(QObject* parent = nullptr);

    State state() const { return m_state; }
    int deviceId() const { return m_deviceId; } // > 0 once registered
    int modelId() const { return m_modelId; } // -1 while unknown
    bool modelAnswered() const { return m_modelAnswered; } // the model query has its answer
    bool created() const { return m_created; } // registered by a new entry
    // Failed: what failed, such as "the device lookup (GET device) got HTTP 500 Internal Server
    // Error", and that step's HTTP status (0: no response came).
    QString reason() const { return m_reason; }
    int httpStatus() const { return m_httpStatus; }
    // Failed: the lookup got no response and is asked again every 10 s, until stopRetrying().
    bool retrying() const { return m_retrying; }
    // Steps that failed without failing the registration (the model query, the update).
    QStringList problems() const { return m_problems; }

    // The host gives up on the service: the lookup is not asked again, and a wait for the next
    // attempt ends at once.
    void stopRetrying();

signals:
    void changed();

private:
    friend struct RegistrationSteps;
    State m_state = NotStarted;
    int m_deviceId = 0;
    int m_modelId = -1;
    bool m_modelAnswered = false;
    bool m_created = false;
    QString m_reason;
    int m_httpStatus = 0;
    bool m_retrying = false;
    bool m_stopped = false;
    QStringList m_problems;
};

// The device's registration (one per device, made on first use); null for a device not made by
// this SDK's core.
Registration* registrationOf(ZRDeviceInterface* device);

// ---- Calls of the device core --------------------------------------------------------------

// Opens the device's remote channel to the cloud service (registered first); false when the
// device cannot.
bool openRemoteChannel(ZRDeviceInterface* device);
// Why the device's last TCP connection failed or ended ("Connection refused"); empty when the
// link has nothing to tell.
QString linkError(ZRDeviceInterface* device);
// The period at which the device sends its heartbeat read while its link is up, in ms; 0 while
// it sends none.
int heartbeatMs(ZRDeviceInterface* device);

} // namespace ZRDevice
