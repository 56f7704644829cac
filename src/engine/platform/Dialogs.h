#pragma once

#include <QString>
#include <QStringList>

// Every modal interaction of the window goes through here, so tests can answer for the user.
class Dialogs {
public:
    enum class Buttons { Ok, YesNo };
    enum class Icon { None, Warning };
    enum class Answer { Ok, Yes, No };

    virtual ~Dialogs() = default;

    virtual Answer messageBox(const QString &text, const QString &title, Buttons buttons,
                              Icon icon) = 0;
    // The text typed, or an empty text when the user cancels.
    virtual QString inputBox(const QString &prompt, const QString &title) = 0;
    // filter is "label|patterns|label|patterns|..."; the result lists full paths in the order
    // the dialog returns them, empty when the user cancels.
    virtual QStringList openFiles(const QString &title, const QString &filter) = 0;
    // The chosen path, or an empty text when the user cancels. Never asks about overwriting.
    virtual QString saveFile(const QString &title, const QString &filter) = 0;
};
