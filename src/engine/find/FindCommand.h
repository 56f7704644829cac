#pragma once

#include <QObject>

class CommandServices;
class ProgressTarget;
class TextListModel;

// "Start Finding": the input list's repeated texts into the results list, one run at a time.
class FindCommand : public QObject {
    Q_OBJECT
public:
    FindCommand(CommandServices &services, TextListModel &input, TextListModel &results,
                ProgressTarget &progress, QObject *parent);

    // Set while a search runs; a second Start Finding meanwhile does nothing.
    bool busyFlag() const { return busyFlag_; }

public slots:
    void PushButton4_Click(); // Start Finding

private:
    CommandServices &services_;
    TextListModel *inputModel_;
    TextListModel *resultsModel_;
    ProgressTarget *progressTarget_;
    bool busyFlag_ = false;
};
