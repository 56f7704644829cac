#include "TestSupport.h"
#include <QTest>
class T : public QObject {
    Q_OBJECT private slots : void none() {}
};
QTEST_MAIN(T)
#include "tst_find.moc"
