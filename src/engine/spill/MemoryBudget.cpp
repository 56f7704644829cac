#include "MemoryBudget.h"

#include "engine/core/MemoryLimits.h"

#include <algorithm>

using memory::Unlimited;

MemoryBudgetText parseMemoryBudget(QByteArrayView text) {
    int shift = 0;
    switch (text.isEmpty() ? 0 : text.back()) {
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
        return {0, "bad size for --memory: %s (bytes, or a number followed by K, M, G or T)"};
    bool ok = false;
    const qint64 number = digits.toLongLong(&ok);
    if (!ok || number > (Unlimited >> shift))
        return {0, "bad size for --memory: %s (too large)"};
    if (number << shift < MinimumMemoryBudget)
        return {0, "bad size for --memory: %s (at least 64K)"};
    return {number << shift};
}

QByteArray memoryBudgetText(qint64 bytes) {
    static const char Units[] = "KMGT";
    int unit = 0;
    for (; unit < 4 && bytes % 1024 == 0; ++unit)
        bytes /= 1024;
    QByteArray text = QByteArray::number(bytes);
    if (unit > 0)
        text += Units[unit - 1];
    return text;
}

qint64 defaultMemoryBudget(const QString &root) {
    const qint64 limit = std::min({memory::physicalMemory(), memory::addressSpaceLimit(),
                                   memory::dataLimit(), memory::controlGroupLimit(root)});
    return limit == Unlimited ? Unlimited : limit / 2;
}
