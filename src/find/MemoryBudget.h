#pragma once

#include <QByteArrayView>

#include <optional>

// A size as the user writes it: plain bytes, or a number followed by K, M, G or T (powers of
// 1024), upper or lower case.
std::optional<qint64> parseMemorySize(QByteArrayView text);

// The memory a command may use for its work when the user names no budget: half of the least
// of physical memory, the address-space limit and the control group's limit, leaving the
// other half to the rest of the machine.
qint64 defaultMemoryBudget();
