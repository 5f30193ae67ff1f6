#include "zrcommoninterface.h"
#include "zrcommoninterface_p.h"

#include "hanging.h"
#include "numbers.h"
#include "replyfits.h"
#include "replyframe.h"
#include "zrdevicehost.h"
#include "zrdeviceproperty.h"

#include <algorithm>

namespace {

// Numbers whose replies must never reach a parameter: 27 is the cut quality register and 125
// the task control register, both written by several parameters that keep fixed values. 0 is no
// command at all (a parameter with number 0 neither reads nor writes), so a reply whose number is
// 0 or does not parse is noise and must not land on such a parameter.
bool neverApplied(int number)
{
    return number == 0 || ZRDevice::answerIsDropped(number);
}

bool isPlainText(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() >= 0x7f)
            return false;
    }
    return true;
}

// A CMD reply item such as "SET7:15": the number and the value the device's item splitter
// gives, read in place when the item is plain text; otherwise the splitter's value is kept in
// text, which value then shows.
int replyItem(ZRCommonInterface& device, QStringView item, QString& text, QStringView& value)
{
    if (!isPlainText(item)) {
        QString name;
        int number = 0;
        device.decode_cmd(item.toString(), name, number, text);
        value = text;
        return number;
    }
    qsizetype colon = item.size() - 1;
    while (colon >= 0 && item.at(colon) != QLatin1Char(':'))
        --colon;
    value = colon < 0 ? item : item.mid(colon + 1);
    qsizetype nameEnd = 0;
    while (nameEnd < item.size() && item.at(nameEnd) >= QLatin1Char('A')
        && item.at(nameEnd) <= QLatin1Char('Z'))
        ++nameEnd;
    const qsizetype numberEnd = colon < 0 ? item.size() : colon;
    return numberOrZero(item.mid(nameEnd, numberEnd - nameEnd));
}

// The first parameter in creation order that claims a reply keeps it. A parameter with a
// parameter list takes a reply that repeats the list before exactly one value, and never the
// value "0".
void applyValues(ZRDeviceProperty* parameter, const QStringList& values)
{
    const int expected = parameter->param().size();
    if ((expected > 0 && (values.size() != expected + 1 || values.last() == QLatin1String("0")))
        || !replyFits(*parameter, values))
        return;
    parameter->set_decode(values);
    emit parameter->answered();
}

// A reply of one value, the usual one, goes to the parameter without a list.
void applyValue(ZRDeviceProperty* parameter, const QString& value)
{
    if (!parameter->param().isEmpty())
        return;
    parameter->set_decode(value);
    emit parameter->answered();
}

} // namespace

void ZRCommonInterface::decode_cmd(QString frame)
{
    dispatch_reply(frame, ReplyFrame(frame));
}

void ZRCommonInterface::dispatch_reply(const QString& frame, const ReplyFrame& reply)
{
    // Field 0 is the envelope (STX and length); the last field is what follows the final ';',
    // normally the ETX alone, and never holds an item. Strings are made only for what reaches a
    // parameter or the host.
    if (!reply.complete)
        return;

    ZRDeviceProperty* parameter = nullptr;
    QStringList values;
    if (reply.kind == CMD) {
        QStringView items = reply.body;
        qsizetype end = ReplyFrame::find(items, u';', 0);
        if (end < 0)
            return;
        QString text;
        QStringView value;
        // The first item's number is the frame's.
        const int number = replyItem(*this, items.left(end), text, value);
        if (neverApplied(number) || !(parameter = reply_target(number, CMD)))
            return;
        items = items.mid(end + 1);
        end = ReplyFrame::find(items, u';', 0);
        // One value, the usual reply, goes to the parameter without a list.
        if (end < 0) {
            applyValue(parameter, value.toString());
            return;
        }
        values.append(value.toString());
        for (; end >= 0; end = ReplyFrame::find(items, u';', 0)) {
            replyItem(*this, items.left(end), text, value);
            values.append(value.toString());
            items = items.mid(end + 1);
        }
    } else if (reply.kind == CCMD) {
        const QStringView body = reply.field2();
        const qsizetype first = ReplyFrame::find(body, u',', 0);
        const int number = numberOrZero(first < 0 ? body : body.left(first));
        if (number == 55 || number == 11) {
            emit message(Qrcode, body.mid(body.lastIndexOf(QLatin1Char(',')) + 1).toString());
            return;
        }
        if (number == 66) {
            // A report identical to the last one applied reaches neither the host nor the service.
            if (frame == last_task_frame)
                return;
            // Copied, not shared: the frame is usually the text the device decodes every reply
            // into, which then stays its own.
            last_task_frame.resize(frame.size());
            std::copy(frame.cbegin(), frame.cend(), last_task_frame.begin());
            decode_task(body.toString());
            return;
        }
        // Number, status 0, then the values.
        if (first < 0)
            return;
        const qsizetype second = ReplyFrame::find(body, u',', first + 1);
        if (numberOrZero(body.mid(first + 1, second < 0 ? -1 : second - first - 1)) != 0
            || second < 0 || neverApplied(number) || !(parameter = reply_target(number, CCMD)))
            return;
        const QStringView valueText = body.mid(second + 1);
        if (ReplyFrame::find(valueText, u',', 0) < 0) {
            applyValue(parameter, valueText.toString());
            return;
        }
        values = valueText.toString().split(QLatin1Char(','));
    } else {
        return;
    }

    applyValues(parameter, values);
}

namespace {

using IndexEntry = QPair<int, ZRDeviceProperty*>;

bool numberBefore(const IndexEntry& entry, int number)
{
    return entry.first < number;
}

} // namespace

ZRDeviceProperty* ZRCommonInterface::reply_target(int number, ZRDeviceCMDType kind)
{
    build_reply_index();
    const ReplyIndex& index = d->reply_index;
    auto it = std::lower_bound(index.cbegin(), index.cend(), number, numberBefore);
    for (; it != index.cend() && it->first == number; ++it) {
        if (it->second->cmd_type() == kind)
            return it->second;
    }
    return nullptr;
}

ZRCommonInterface::ReplyCandidates ZRCommonInterface::reply_candidates(int number, bool* walkCut)
{
    build_reply_index();
    *walkCut = d->reply_walk_cut;
    const ReplyIndex& index = d->reply_index;
    const auto first = std::lower_bound(index.cbegin(), index.cend(), number, numberBefore);
    auto last = first;
    while (last != index.cend() && last->first == number)
        ++last;
    return { first, last };
}

// The index stands while the catalogue stamp stays the same; where changes cannot be seen (no
// application), it is made afresh for every reply.
void ZRCommonInterface::build_reply_index()
{
    const quint64 stamp = catalogueStamp();
    if (stamp != 0 && stamp == d->reply_index_stamp)
        return;
    ReplyIndex& index = d->reply_index;
    index.clear();
    d->reply_walk_cut = false;
    // Replies are offered to parameters in creation order; a dynamic property that holds no
    // parameter ends every walk.
    const QList<QByteArray> names = dynamicPropertyNames();
    for (const QByteArray& name : names) {
        ZRDeviceProperty* parameter = property_ptr(name.constData());
        if (!parameter) {
            d->reply_walk_cut = true;
            break;
        }
        const ZRDeviceCMDType kind = parameter->cmd_type();
        if (kind != CMD && kind != CCMD)
            continue;
        const int get = parameter->get_cmd_int();
        const int set = parameter->set_cmd_int();
        if (get != 0)
            index.append({ get, parameter });
        if (set != 0 && set != get)
            index.append({ set, parameter });
    }
    // By number; within a number, creation order stays.
    std::stable_sort(index.begin(), index.end(),
        [](const IndexEntry& a, const IndexEntry& b) { return a.first < b.first; });
    index.squeeze();
    d->reply_index_stamp = stamp;
}
