#include "app/Form1.h"
#include "platform/FileSystem.h"
#include "platform/QtClipboard.h"
#include "platform/QtDialogs.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QtDialogs dialogs;
    QtClipboard clipboard;
    FileSystem fileSystem;
    Form1 window(dialogs, clipboard, fileSystem, QCoreApplication::applicationDirPath());
    dialogs.setParent(&window);
    window.show();
    return app.exec();
}
