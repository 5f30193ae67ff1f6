#include "zrtx4150v.h"

#include "numbers.h"
#include "replyframe.h"
#include "zrdeviceproperty.h"

// A two-field comma reply carries either the value a read asked for or the status of a write.
// The common dispatch leaves that form alone, so it is applied here first: a get number stores
// the value, a set number reports the status through retStatus. The get number is compared first,
// so a parameter that reads and writes under one number always takes the field as a value. Then
// the frame goes on to the common dispatch, read once for both; that takes only CMD and CCMD
// replies, so nothing else goes on.
void ZRTX4150V::decode_cmd(QString frame)
{
    const ReplyFrame reply(frame);
    if (reply.kind == UnCMD)
        return;
    // Number 0 names no command: a parameter without a read or write command has 0 there, and a
    // field that is not a number reads as 0, so such a reply must not land in that parameter.
    int number = 0;
    QStringView body;
    qsizetype comma = -1;
    if (reply.kind == CCMD) {
        body = reply.field2();
        comma = ReplyFrame::find(body, u',', 0);
        if (comma >= 0 && ReplyFrame::find(body, u',', comma + 1) < 0)
            number = numberOrZero(body.left(comma));
    }
    if (number != 0) {
        const QStringView text = body.mid(comma + 1);
        bool walkCut = false;
        bool taken = false;
        const ReplyCandidates candidates = reply_candidates(number, &walkCut);
        for (auto it = candidates.first; it != candidates.second; ++it) {
            ZRDeviceProperty* parameter = it->second;
            if (parameter->cmd_type() != CCMD)
                continue;
            // A one-field list is applied as that field.
            if (number == parameter->get_cmd_int())
                parameter->set_decode(text.toString());
            else
                parameter->ret_Status(numberOrZero(text));
            emit parameter->answered();
            taken = true;
            break;
        }
        // The walk in creation order met a dynamic property that holds no parameter before any
        // parameter took the reply: the frame goes no further.
        if (!taken && walkCut)
            return;
    }
    dispatch_reply(frame, reply);
}
