// The model's translations, with the plugin loaded as a host loads it. ctest runs this under
// several locales and names the language the texts should be in (ZR_EXPECTED_TRANSLATION: ja_JP,
// en_US, or empty for the built-in Chinese), once from a folder without translations.

#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QPluginLoader>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

#include <memory>

namespace {

struct Message {
    QString context;
    QString source;
    QString translation;
    bool finished;
};

QList<Message> readTs(const QString& path)
{
    QList<Message> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    QXmlStreamReader xml(&file);
    QString context;
    Message message;
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            message = { context, {}, {}, true };
        } else if (xml.name() == QLatin1String("source")) {
            message.source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            message.finished = xml.attributes().value("type").isEmpty();
            message.translation = xml.readElementText();
            messages.append(message);
        }
    }
    return messages;
}

QString leadingSpaces(const QString& text)
{
    int n = 0;
    while (n < text.size() && text.at(n) == QLatin1Char(' '))
        ++n;
    return text.left(n);
}

// Everything a person at the machine reads of a device: labels, settings units, combo items and
// the display name.
QStringList visibleTexts(ZRDeviceInterface* device)
{
    QStringList texts;
    const QList<QByteArray> names = device->dynamicPropertyNames();
    for (const QByteArray& name : names) {
        ZRDeviceProperty* p = device->property_ptr(name.constData());
        texts << p->label();
        const QString option = p->property("WIDGET").toJsonObject().value("option").toString();
        if (!option.isEmpty())
            texts << option.split(';');
    }
    texts << device->property_ptr("HEARTBEAT")->uint()
          << device->property_ptr("TASK_COPIES")->uint()
          << device->property_ptr("DEVICE_MODEL_NAME")->value().toString();
    texts.removeAll(QString());
    texts.removeDuplicates();
    return texts;
}

} // namespace

class tst_Translations : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void texts_data();
    void texts();
    void otherContexts();
    void everyMessageTranslated_data();
    void everyMessageTranslated();
    void everyVisibleTextHasTranslations();
    void translatorLeavesWithItsObject();
    void hostTranslatorInstalledLaterComesSecond();

private:
    std::unique_ptr<ZRCommonInterface> newDevice();
    QString expect(const char* zh, const char* ja, const char* en) const;

    QPluginLoader loader { QStringLiteral(ZRTX4150V_PLUGIN) };
    QString language;
};

void tst_Translations::initTestCase()
{
    if (!qEnvironmentVariableIsSet("ZR_EXPECTED_TRANSLATION"))
        QSKIP("run by ctest under a chosen locale");
    language = qEnvironmentVariable("ZR_EXPECTED_TRANSLATION");
    QVERIFY2(loader.load(), qPrintable(loader.errorString()));
}

std::unique_ptr<ZRCommonInterface> tst_Translations::newDevice()
{
    auto* factory = qobject_cast<ZRDeviceInterface*>(loader.instance());
    auto* device = qobject_cast<ZRCommonInterface*>(factory->initInstance());
    device->feed_157(device);
    return std::unique_ptr<ZRCommonInterface>(device);
}

QString tst_Translations::expect(const char* zh, const char* ja, const char* en) const
{
    if (language == QLatin1String("ja_JP"))
        return QString::fromUtf8(ja);
    if (language == QLatin1String("en_US"))
        return QString::fromUtf8(en);
    return QString::fromUtf8(zh);
}

void tst_Translations::texts_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("expected");

    auto row = [this](const char* name, const char* field, const char* zh, const char* ja,
                   const char* en) {
        QTest::addRow("%s %s", name, field)
            << QByteArray(name) << QString(field) << expect(zh, ja, en);
    };
    // clang-format off
    row("DEVICE_MODEL_NAME", "value", "主动转刀平板机", "ロータリーナイフ式フラットベッドカッター",
        "Active rotary-knife flatbed cutter");
    row("DEVICE_MODEL_NAME", "label", "名称", "名称", "Name");
    row("DEVICE_MODEL", "value", "ZR-TX4150V", "ZR-TX4150V", "ZR-TX4150V");
    row("STATUS", "label", "状态", "状態", "Status");
    row("TASK_COPIES", "unit", "份", "部", "copies");
    row("HEARTBEAT", "unit", "秒", "秒", "s");
    row("WORK_MODE", "option", "   速度优先;   平衡;   精度优先", "   速度優先;   バランス;   精度優先",
        "   Speed first;   Balanced;   Precision first");
    row("SP1_TOOL", "option", "  拖刀;  转刀", "  ドラッグナイフ;  ロータリーナイフ", "  Drag knife;  Rotary knife");
    row("SP2_TOOL", "option", "拖刀;转刀", "ドラッグナイフ;ロータリーナイフ", "Drag knife;Rotary knife");
    row("SP1_PRESSURE", "label", "压力", "圧力", "Pressure");
    row("DEVICE_UNIQUE_ID", "label", "Unique ID", "固有ID", "Unique ID");
    row("CAMERA_OFFSET", "label", "摄像头偏移", "カメラオフセット", "Camera offset");
    row("CAMERA_OFFSET", "unit", "(mm x mm)", "(mm x mm)", "(mm x mm)");
    row("SP1_ANGLE", "unit", "(°)", "(°)", "(°)");
    row("MOVE_Y", "label", "Y 移动", "Y 移動", "Y jog");
    row("FEED", "label", "送料", "材料送り", "Feeding");
    row("FEED_MODEL", "option", "   同步送料;   异步送料", "   同期送り;   非同期送り",
        "   Synchronous feed;   Asynchronous feed");
    row("FAN_DELAY", "unit", "ms", "ms", "ms");
    // clang-format on
}

void tst_Translations::texts()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, field);
    const auto device = newDevice();
    ZRDeviceProperty* p = device->property_ptr(name.constData());
    QVERIFY(p);
    QString text;
    if (field == "label")
        text = p->label();
    else if (field == "unit")
        text = p->uint();
    else if (field == "value")
        text = p->value().toString();
    else
        text = p->property("WIDGET").toJsonObject().value("option").toString();
    QTEST(text, "expected");
}

// Texts other parts of the system create in the device core's and the contract's contexts.
void tst_Translations::otherContexts()
{
    const auto device = newDevice();
    QCOMPARE(QCoreApplication::translate("ZRCommonInterface", "USB 地址"),
        expect("USB 地址", "USB アドレス", "USB address"));
    QCOMPARE(QCoreApplication::translate("ZRCommonInterface", "IP 地址"),
        expect("IP 地址", "IP アドレス", "IP address"));
    QCOMPARE(QCoreApplication::translate("ZRCommonInterface", "当前任务"),
        expect("当前任务", "現在のジョブ", "Current job"));
    QCOMPARE(QCoreApplication::translate("ZRDeviceInterface", "TCP"), QStringLiteral("TCP"));
}

void tst_Translations::everyMessageTranslated_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("ja_JP") << "ja_JP";
    QTest::newRow("en_US") << "en_US";
}

// Each source file is complete, and what lrelease made of it answers every message.
void tst_Translations::everyMessageTranslated()
{
    QFETCH(QString, language);
    const QString base = QStringLiteral("ZR-TX4150V_") + language;
    const QList<Message> messages = readTs(QStringLiteral(ZRTX4150V_TS_DIR "/") + base + ".ts");
    QCOMPARE(messages.size(), 72);
    QTranslator translator;
    QVERIFY(translator.load(base + ".qm", QStringLiteral(ZRTX4150V_QM_DIR)));
    QSet<QString> contexts;
    for (const Message& m : messages) {
        contexts.insert(m.context);
        QVERIFY2(m.finished && !m.translation.isEmpty(), qPrintable(m.source));
        QCOMPARE(leadingSpaces(m.translation), leadingSpaces(m.source));
        QCOMPARE(translator.translate(m.context.toUtf8(), m.source.toUtf8()), m.translation);
    }
    QCOMPARE(contexts, (QSet<QString> { "ZRDeviceInterface", "ZRCommonInterface", "ZRTX4150V" }));
}

// Built with the Chinese texts, every text a user reads has a translation in both languages.
void tst_Translations::everyVisibleTextHasTranslations()
{
    if (!language.isEmpty())
        QSKIP("needs the built-in texts");
    const auto device = newDevice();
    const QStringList texts = visibleTexts(device.get());
    QVERIFY(texts.size() > 60);
    for (const char* target : { "ja_JP", "en_US" }) {
        QTranslator translator;
        QVERIFY(translator.load(
            QStringLiteral("ZR-TX4150V_%1.qm").arg(target), QStringLiteral(ZRTX4150V_QM_DIR)));
        for (const QString& text : texts) {
            const QByteArray source = text.toUtf8();
            const bool found = !translator.translate("ZRCommonInterface", source).isEmpty()
                || !translator.translate("ZRTX4150V", source).isEmpty();
            QVERIFY2(found, qPrintable(QStringLiteral("%1: %2").arg(target, text)));
        }
    }
}

void tst_Translations::translatorLeavesWithItsObject()
{
    const QString displayName = QString::fromUtf8("主动转刀平板机");
    auto device = newDevice();
    QCOMPARE(QCoreApplication::translate("ZRTX4150V", "主动转刀平板机"),
        expect("主动转刀平板机", "ロータリーナイフ式フラットベッドカッター",
            "Active rotary-knife flatbed cutter"));
    device.reset();
    delete loader.instance();
    QCOMPARE(QCoreApplication::translate("ZRTX4150V", "主动转刀平板机"), displayName);
}

namespace {

// A translator of the host's own that claims every text of the model.
class HostTranslator : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char*, const char*, int) const override
    {
        return QLatin1String(context) == QLatin1String("ZRTX4150V") ? QStringLiteral("host's")
                                                                    : QString();
    }
};

} // namespace

// The most recently made device's translation is searched first, before a translator the host
// installed after the plugin was loaded.
void tst_Translations::hostTranslatorInstalledLaterComesSecond()
{
    if (language.isEmpty())
        QSKIP("the built-in texts need no translation, so any other translator comes first");
    const auto before = newDevice();
    HostTranslator host;
    QCoreApplication::installTranslator(&host);
    const auto device = newDevice();
    QCOMPARE(device->property_ptr("DEVICE_MODEL_NAME")->label(), expect("名称", "名称", "Name"));
    QCoreApplication::removeTranslator(&host);
}

QTEST_GUILESS_MAIN(tst_Translations)
#include "tst_translations.moc"
