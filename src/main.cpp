#include "app/Form1.h"
#include "core/MemoryLimits.h"
#include "platform/FileSystem.h"
#include "platform/QtClipboard.h"
#include "platform/QtDialogs.h"

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
