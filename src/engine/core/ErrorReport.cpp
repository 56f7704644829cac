#include "ErrorReport.h"

#include <new>

QString errorReportText(const QString &location, const QString &description, int step) {
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") +
           QString::number(step) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") +
           QLatin1String(SupportAddress);
}

QString describeFailure(const std::exception &e) {
    if (auto failure = dynamic_cast<const Failure *>(&e))
        return failure->description();
    if (dynamic_cast<const std::bad_alloc *>(&e))
        return QStringLiteral("Out of memory");
    return QString::fromLocal8Bit(e.what());
}
