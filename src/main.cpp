#include "engine/core/MemoryLimits.h"
#include "engine/platform/FileSystem.h"
#include "gui/app/Form1.h"
#include "gui/platform/QtClipboard.h"
#include "gui/platform/QtDialogs.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    memory::growInLargeSteps();
    memory::shareOneHeap();
    QApplication app(argc, argv);
    // The user's configuration folder is named after the program, whatever the file's name;
    // the desktop entry's name lets the desktop match the window to its entry and icon.
    QApplication::setApplicationName(QStringLiteral("quorvel"));
    QApplication::setDesktopFileName(QStringLiteral(QUORVEL_APP_ID));
    QtDialogs dialogs;
    QtClipboard clipboard;
    FileSystem fileSystem;
    Form1 window(dialogs, clipboard, fileSystem, QCoreApplication::applicationDirPath());
    dialogs.setParent(&window);
    window.show();
    return app.exec();
}
