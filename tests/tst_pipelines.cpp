#include <QProcess>
#include <QTest>

class PipelinesTest : public QObject {
    Q_OBJECT
private slots:
    void pipelines_data();
    void pipelines();
};

void PipelinesTest::pipelines_data() {
    QTest::addColumn<QString>("script"); // $F is quorvel-find
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::newRow("standard output closed")
        << "printf 'x\\nx\\n' | \"$F\" >&-" << 3 << QByteArray()
        << QByteArray("quorvel-find: standard output: Bad file descriptor\n");
    QTest::newRow("reader of the output gone")
        << "yes x | head -c 20000000 | \"$F\" --lf | head -c 2; exit ${PIPESTATUS[2]}" << 3
        << QByteArray("x\n") << QByteArray("quorvel-find: standard output: Broken pipe\n");
    QTest::newRow("--help to a full disk")
        << "\"$F\" --help >/dev/full" << 3 << QByteArray() << QByteArray();
    QTest::newRow("spilled to a missing $TMPDIR")
        << "seq 100000 | TMPDIR=/nonexistent \"$F\" --memory 64K; exit ${PIPESTATUS[1]}" << 3
        << QByteArray() << QByteArray("quorvel-find: /nonexistent: No such file or directory\n");
    // On a terminal, a run of over a second shows how far it has come, then wipes it.
    QTest::newRow("progress on a terminal")
        << "script -qefc '{ echo a; sleep 1.5; echo b; } | \"$F\"' /dev/null" << 0
        << QByteArray("\r\033[Kquorvel-find: 0 MB read\r\033[K") << QByteArray();
    QTest::newRow("--quiet on a terminal")
        << "script -qefc '{ echo a; sleep 1.5; echo b; } | \"$F\" --quiet' /dev/null" << 0
        << QByteArray() << QByteArray();
    // A budget above the address-space limit: reading runs out before it spills.
    QTest::newRow("reading runs out of memory")
        << "ulimit -v 400000; head -c 600M /dev/zero | tr '\\0' a | fold -w 1000 | "
           "\"$F\" --memory 2G; "
           "exit ${PIPESTATUS[3]}"
        << 3 << QByteArray() << QByteArray("quorvel-find: -: Out of memory\n");
    // Under a data limit, without a budget, a list larger than half of it spills.
    QTest::newRow("spilled under a data limit")
        << "ulimit -d 200000; head -c 300M /dev/zero | tr '\\0' a | fold -w 1000 | \"$F\" --lf | "
           "wc -c; exit ${PIPESTATUS[3]}"
        << 0 << QByteArray::number(157286 * 1001) + "\n"
        << QByteArray();
    // Thread stacks as large as the address space allows.
    QTest::newRow("threads cannot start")
        << "ulimit -s 4000000; ulimit -v 3000000; seq 200000 | \"$F\"; exit ${PIPESTATUS[1]}" << 3
        << QByteArray()
        << QByteArray("quorvel-find: cannot start threads: Resource temporarily unavailable\n");
    // Under a terminal, the status line shows from the first second: a mebibyte read at once,
    // then the end held back a little longer, makes the first partition the first line shown.
    QTest::newRow("status line counts partitions from 1")
        << "script -qec '{ { seq 100000 174999; seq 100000 174999; } | head -n 140000; sleep 1.2; "
           "} "
           "| \"$F\" --memory 64K - >/dev/null' /dev/null | grep -ao 'partition [-0-9]* of [0-9]*' "
           "| head -1"
        << 0 << QByteArray("partition 1 of 4\n") << QByteArray();
    // A second file the budget cannot hold beside the first: the partitions are chosen for the
    // lines of both, as the status line shows, not for the second file's alone (15).
    QTest::newRow("partitions chosen for the lines held too")
        << "d=$(mktemp -d); trap 'rm -rf \"$d\"' EXIT; export d; seq -w 600000 >\"$d/a\"; "
           "seq -w 3000000 >\"$d/b\"; "
           "script -qec 'sleep 1.2 | \"$F\" --memory 104M \"$d/a\" \"$d/b\" - >/dev/null' "
           "/dev/null | grep -ao 'partition [-0-9]* of [0-9]*' | head -1"
        << 0 << QByteArray("partition 1 of 17\n") << QByteArray();
    // 1024 equal lines of a mebibyte: 512 rows.
    QTest::newRow("1 GB on standard input")
        << "set -o pipefail; head -c 1G /dev/zero | tr '\\0' a | fold -w 1048576 | \"$F\" --lf "
           "| wc -c"
        << 0 << QByteArray::number(512 * (1048576 + 1)) + "\n"
        << QByteArray();
}

// Standard input and output in pipelines, as scripts use them.
void PipelinesTest::pipelines() {
    QFETCH(QString, script);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
#if defined(__SANITIZE_ADDRESS__)
    if (script.contains(QLatin1String("ulimit -v")) || script.contains(QLatin1String("ulimit -d")))
        QSKIP("the address sanitizer needs more memory than the limit leaves");
#endif
    QProcess shell;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("F"), QStringLiteral(QUORVEL_FIND));
    shell.setProcessEnvironment(env);
    shell.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
    QVERIFY(shell.waitForFinished(120000));
    QCOMPARE(shell.readAllStandardError(), err);
    QCOMPARE(shell.readAllStandardOutput(), out);
    QCOMPARE(shell.exitCode(), status);
}

QTEST_MAIN(PipelinesTest)
#include "tst_pipelines.moc"
