#include "ClipboardLayout.h"

#include "engine/core/MemoryLimits.h"
#include "engine/core/TimeSlice.h"
#include "engine/store/TextStore.h"

#include <algorithm>

QByteArray layoutCheckedRows(const TextStore &texts, const std::vector<bool> &checks,
                             TimeSlice *slice) {
    const qsizetype rows = std::min(texts.size(), qsizetype(checks.size()));
    auto turn = [&](qsizetype row, qsizetype done) {
        if (slice && (row & 255) == 0 && slice->due()) {
            slice->setStepDone(done);
            slice->yield();
        }
    };

    // Sized first from the stored bytes, never fewer than the copy's, so that its memory is
    // asked for once, before any of it is written, and a copy that cannot get it leaves
    // nothing half done.
    qint64 size = 0;
    for (qsizetype r = 0; r < rows; ++r) {
        turn(r, r);
        if (checks[size_t(r)])
            size += texts.bytes(r).size() + 2;
    }
    memory::ensureRoomFor(size);

    QByteArray text;
    text.reserve(qsizetype(size));
    for (qsizetype r = 0; r < rows; ++r) {
        turn(r, rows + r);
        if (!checks[size_t(r)])
            continue;
        QByteArray cell = texts.text(r).toUtf8();
        while (cell.endsWith(' '))
            cell.chop(1);
        text += cell;
        text += "\r\n";
    }
    return text;
}
