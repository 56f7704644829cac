#include "MemoryBudget.h"

#include "core/MemoryLimits.h"

#include <algorithm>

using memory::Unlimited;

std::optional<qint64> parseMemorySize(QByteArrayView text) {
    if (text.isEmpty())
        return std::nullopt;
    int shift = 0;
    switch (text.back()) {
    case 'K':
    case 'k':
        shift = 10;
        break;
    case 'M':
    case 'm':
        shift = 20;
        break;
    case 'G':
    case 'g':
        shift = 30;
        break;
    case 'T':
    case 't':
        shift = 40;
        break;
    default:
        break;
    }
    const QByteArrayView digits = shift ? text.chopped(1) : text;
    if (digits.isEmpty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    bool ok = false;
    const qint64 number = digits.toLongLong(&ok);
    if (!ok || number > (Unlimited >> shift))
        return std::nullopt;
    return number << shift;
}

qint64 defaultMemoryBudget() {
    const qint64 limit = std::min(
        {memory::physicalMemory(), memory::addressSpaceLimit(), memory::controlGroupLimit()});
    return limit == Unlimited ? Unlimited : limit / 2;
}
