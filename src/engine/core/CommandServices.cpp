#include "CommandServices.h"

std::shared_ptr<void> CommandServices::claimListFile() {
    if (listFileOpen_)
        throw Failure(QStringLiteral("File already open"));
    listFileOpen_ = true;
    return std::shared_ptr<void>(nullptr, [this](void *) { listFileOpen_ = false; });
}
