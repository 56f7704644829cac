// The clipboard layout against the copy written out plainly.
#include "FuzzInput.h"

#include "engine/results/ClipboardLayout.h"
#include "engine/store/TextStore.h"

#include <QStringList>

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    FuzzInput input(data, size);
    TextStore texts;
    std::vector<bool> ticks;
    QString expected;
    while (!input.atEnd() && texts.size() < 200) {
        QString text = input.text(8);
        texts.append(text);
        ticks.push_back(input.byte() % 3 != 0);
        if (!ticks.back())
            continue;
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        expected += text + QLatin1String("\r\n");
    }
    FUZZ_CHECK(layoutCheckedRows(texts, ticks, nullptr) == expected.toUtf8());
    return 0;
}
