#include "TestSupport.h"

#include "engine/store/TextListModel.h"
#include "engine/store/TextStoreFiller.h"
#include "engine/store/TextStoreLookup.h"

#include <QRandomGenerator>
#include <QTest>

class StoreTest : public QObject {
    Q_OBJECT
private slots:
    void storeKeepsEveryText_data();
    void storeKeepsEveryText();
    void storeEdits_data();
    void storeEdits();
    void growthCostCoversAppend_data();
    void growthCostCoversAppend();
};

void StoreTest::storeKeepsEveryText_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("ASCII") << QStringLiteral("plain text");
    QTest::newRow("accents") << QStringLiteral("é à ü");
    QTest::newRow("outside the BMP") << QStringLiteral("😀 x");
    QTest::newRow("NUL") << QString::fromUtf8("a\0b", 3);
    QTest::newRow("lone high surrogate") << QString(QChar(0xD83D)) + QStringLiteral("x");
    QTest::newRow("lone low surrogate") << QStringLiteral("x") + QChar(0xDE00);
    QTest::newRow("U+FFFD") << QString(QChar(0xFFFD));
    const char32_t edges[] = {0x7F, 0x80, 0x7FF, 0x800, 0xFFFF}; // UTF-8 grows by a byte after
    QTest::newRow("lone surrogate after every UTF-8 length")
        << QString::fromUcs4(edges, 5) + QChar(0xD800);
    QTest::newRow("lone surrogate and the last planes")
        << QString(QChar(0xDC00)) + QStringLiteral("\U0010FFFD \U00040000 \U0003FFFF");
}

void StoreTest::storeKeepsEveryText() {
    QFETCH(QString, text);
    TextListModel list(false);
    list.appendItem(text);
    list.appendItem(QStringLiteral("next"));
    QCOMPARE(list.itemText(1), text);
    QCOMPARE(list.data(list.index(0), Qt::DisplayRole).toString(), text);
    QCOMPARE(list.itemText(2), QStringLiteral("next"));
    // Lone surrogates stay distinct from the replacement character, and the characters around
    // them are kept as they are kept alone.
    if (!text.isValidUtf16()) {
        QVERIFY(TextStore::encode(text) != TextStore::encode(QString(QChar(0xFFFD))));
        QByteArray pieces;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const bool pair =
                text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
            pieces += TextStore::encode(QStringView(text).sliced(i, pair ? 2 : 1));
            i += pair ? 1 : 0;
        }
        QCOMPARE(TextStore::encode(text), pieces);
    }
}

void StoreTest::storeEdits_data() {
    QTest::addColumn<QStringList>("initial");
    // "set N text", "remove N", "append text", positions from 1
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<int>("seed");             // of random texts and edits instead, 0 for none
    QTest::addColumn<int>("randomItems");      // added to initial with the seed
    QTest::addColumn<QStringList>("expected"); // as well as what a plain list says
    QTest::addColumn<int>("joinFrom");         // the items from here on come as one store; -1: none
    // The chunk: texts kept aside and back, the buffer rewritten.
    QTest::newRow("lengthen, remove, empty, append")
        << QStringList{"one", "two", "three", "four"}
        << QStringList{"set 2 a much longer second item", "remove 1", "set 3 ", "append five"} << 0
        << 0 << QStringList{"a much longer second item", "three", "", "five"} << -1;
    // A text kept aside comes back into the buffer, and is then changed again.
    const QString aside(5000, QLatin1Char('x'));
    QTest::newRow("last text back from aside")
        << QStringList{"a", "b"}
        << QStringList{"set 2 " + aside, "set 2 short", "append c", "set 2 a longer text"} << 0 << 0
        << QStringList{"a", "a longer text", "c"} << -1;
    // Past the point where the store rewrites its buffer.
    QTest::newRow("random edits") << QStringList() << QStringList() << 9 << 300 << QStringList()
                                  << -1;
    // The joined store's first chunk is full and ends in a text kept aside, which is copied.
    QTest::newRow("joined after one item, a full chunk ending aside")
        << QStringList(4096, QStringLiteral("a")) + QStringList{aside, "b"} << QStringList() << 0
        << 0 << QStringList() << 1;
    // The index over chunks: thousands of items, edits that cross chunks, and a stretch
    // removed until chunks merge and vanish (found by page).
    QTest::newRow("random edits across chunks")
        << QStringList() << QStringList(6000, QStringLiteral("remove 3000")) << 5 << 13000
        << QStringList() << -1;
    QTest::newRow("a middle chunk removed whole, then appends")
        << QStringList()
        << QStringList(4096, QStringLiteral("remove 4097")) + QStringList(5000, "append z") << 0
        << 13000 << QStringList() << -1;
    QStringList fromTheEnd;
    for (int position = 9000; position > 0; --position)
        fromTheEnd << QStringLiteral("remove %1").arg(position);
    QTest::newRow("removed from the end") << QStringList() << fromTheEnd + QStringList{"append a"}
                                          << 0 << 9000 << QStringList{"a"} << -1;
    // A large store joined after a short chunk is shared, not copied (a gap).
    QTest::newRow("joined after a short chunk, then appends")
        << QStringList() << QStringList(5000, QStringLiteral("append z")) << 0 << 40000
        << QStringList() << 100;
    QTest::newRow("joined after a short chunk, then random edits")
        << QStringList() << QStringList() << 3 << 40000 << QStringList() << 100;
}

// Edits against a plain list, with a snapshot that must not change; then the finder's lookup
// and the reader's filler over what the edits left.
void StoreTest::storeEdits() {
    QFETCH(QStringList, initial);
    QFETCH(QStringList, edits);
    QFETCH(int, seed);
    QFETCH(int, randomItems);
    QFETCH(QStringList, expected);
    QFETCH(int, joinFrom);
    QRandomGenerator random(quint32(std::max(seed, 1)));
    auto someText = [&] {
        // Now and then one long enough to be kept on its own.
        const int length =
            random.bounded(40) == 0 ? 4090 + int(random.bounded(12)) : int(random.bounded(6));
        return QString(length, QChar(u'a' + random.bounded(26))) +
               (random.bounded(4) == 0 ? QStringLiteral("é😀") : QString());
    };
    for (int i = 0; i < randomItems; ++i)
        initial << someText();
    TextListModel list(false);
    TextStore joined;
    for (qsizetype i = 0; i < initial.size(); ++i) {
        if (joinFrom < 0 || i < joinFrom)
            list.appendItem(initial[i]);
        else
            joined.append(initial[i]);
    }
    list.appendItems(joined);
    const TextStore snapshot = list.store();
    QStringList plain = initial;
    for (const QString &edit : std::as_const(edits)) {
        const QStringList words = edit.split(QLatin1Char(' '));
        const QString rest = edit.section(QLatin1Char(' '), 2);
        if (words[0] == QLatin1String("set")) {
            plain[words[1].toInt() - 1] = rest;
            list.setText(words[1].toInt(), rest);
        } else if (words[0] == QLatin1String("remove")) {
            plain.removeAt(words[1].toInt() - 1);
            list.removeItem(words[1].toInt());
        } else {
            plain << edit.section(QLatin1Char(' '), 1);
            list.appendItem(plain.back());
        }
    }
    QCOMPARE(itemsOf(list), plain);
    for (int step = 0; seed && step < 20000; ++step) {
        const int kind = int(random.bounded(10));
        const qsizetype i = plain.isEmpty() ? 0 : random.bounded(int(plain.size()));
        if (plain.isEmpty() || kind < 2) {
            plain << someText();
            list.appendItem(plain.back());
        } else if (kind < 4) {
            plain.removeAt(i);
            list.removeItem(int(i) + 1);
        } else if (kind < 6) { // with a neighbour or any other item
            const qsizetype j =
                kind == 4 ? std::min(i + 1, plain.size() - 1) : random.bounded(int(plain.size()));
            plain.swapItemsAt(i, j);
            list.exchangeItems(int(i) + 1, int(j) + 1);
        } else {
            plain[i] = someText();
            list.setText(int(i) + 1, plain[i]);
        }
        if (step % 997 == 0) {
            TextStore joined; // appending a store with texts kept aside
            joined.append(QStringLiteral("x"));
            joined.append(list.store());
            QCOMPARE(joined.size(), plain.size() + 1);
            QCOMPARE(joined.text(joined.size() - 1), plain.isEmpty() ? "x" : plain.back());
            TextStore copy = list.store(); // an append to a copy leaves the list alone
            copy.append(QStringLiteral("y"));
            QCOMPARE(copy.text(copy.size() - 1), QStringLiteral("y"));
            QCOMPARE(list.itemCount(), plain.size());
        }
    }
    QCOMPARE(itemsOf(list), plain);
    if (!expected.isEmpty())
        QCOMPARE(itemsOf(list), expected);
    QCOMPARE(snapshot.size(), initial.size());
    for (qsizetype i = 0; i < snapshot.size(); ++i)
        QCOMPARE(snapshot.text(i), initial[i]);
    TextStore store = list.store();
    const TextStore::Lookup lookup(store);
    qsizetype next = plain.size() / 3, wrong = 0; // from an item within a chunk
    lookup.forEach(next, store.size(), [&](qsizetype i, QByteArrayView bytes, std::uint32_t ref) {
        wrong +=
            i != next++ || bytes != TextStore::encode(plain[i]) || lookup.bytes(i, ref) != bytes;
    });
    QCOMPARE(wrong, 0);
    QCOMPARE(next, plain.size());
    const QStringList listed = plain;
    {
        TextStore::Filler filler(store); // beside the list, which shares the chunks
        for (int i = 0; i < 5000; ++i) {
            plain << someText();
            filler.append(TextStore::encode(plain.back()));
        }
    }
    QCOMPARE(textsOf(store), plain);
    list.appendItem(QStringLiteral("y"));
    QCOMPARE(itemsOf(list), listed + QStringList{"y"});
    list.clearItems();
    QCOMPARE(list.itemCount(), 0);
    QCOMPARE(snapshot.text(0), initial[0]);
}

void StoreTest::growthCostCoversAppend_data() {
    QTest::addColumn<int>("held");    // items of "ab" in the store first
    QTest::addColumn<bool>("shared"); // whether a copy of the store is kept meanwhile
    QTest::addColumn<int>("added");
    QTest::addColumn<int>("length"); // of each added text
    QTest::newRow("one-byte texts onto a part-filled chunk") << 1000 << false << 20000 << 1;
    QTest::newRow("one-byte texts onto a shared chunk") << 1000 << true << 20000 << 1;
    QTest::newRow("40-byte texts onto a full chunk") << 4096 << false << 10000 << 40;
    QTest::newRow("long texts kept aside") << 10 << false << 50 << 5000;
}

// The room the list makes sure of before an append covers what the append then takes, and
// not many times more: a load is neither let through to fail midway nor refused for nothing.
void StoreTest::growthCostCoversAppend() {
    QFETCH(int, held);
    QFETCH(bool, shared);
    QFETCH(int, added);
    QFETCH(int, length);
    TextStore store, batch;
    for (int i = 0; i < held; ++i)
        store.append(QStringLiteral("ab"));
    for (int i = 0; i < added; ++i)
        batch.append(QString(length, QLatin1Char('a' + i % 26)));
    const TextStore copy = shared ? store : TextStore();
    const qint64 cost = store.growthCost(batch);
    const auto before = qint64(store.bytesAllocated());
    store.append(batch);
    const auto taken = qint64(store.bytesAllocated()) - before;
    QVERIFY2(taken <= cost, qPrintable(QStringLiteral("%1 > %2").arg(taken).arg(cost)));
    QVERIFY2(cost <= 2 * taken + 4096, qPrintable(QStringLiteral("%1, %2").arg(taken).arg(cost)));
}

QTEST_MAIN(StoreTest)

#include "tst_store.moc"
