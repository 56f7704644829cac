// Compares list views for the window's lists at millions of rows: the table view the window
// used first, a tree view with uniform rows, a list view with uniform items under a header of
// its own, and ReportView. Appends N rows in batches as a load hands them over, letting the
// view catch up after each, and prints the longest batch, the total, and the memory the view
// took beyond the texts; then scrolls to the middle and repaints.
//
// usage: view_candidates table|tree|list|report [N]     (run each in a process of its own)
#include "engine/store/TextListModel.h"
#include "gui/views/ReportView.h"
#include "ProcStatus.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QListView>
#include <QTableView>
#include <QTreeView>

#include <cstdio>

namespace {
void settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// A list view under a header of its own, as the window would have to build it.
class HeaderedList : public QWidget {
public:
    QListView *list = new QListView(this);
    QHeaderView *header = new QHeaderView(Qt::Horizontal, this);
    explicit HeaderedList(QAbstractItemModel *model) {
        list->setModel(model);
        list->setUniformItemSizes(true);
        header->setModel(model);
        header->setGeometry(0, 0, 520, 20);
        list->setGeometry(0, 20, 520, 150);
    }
};
} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString kind = argc > 1 ? QString::fromLatin1(argv[1]) : QString();
    const int n = argc > 2 ? QByteArray(argv[2]).toInt() : 10'000'000;
    TextListModel model(true);
    model.setHeader(QStringLiteral("Results"));
    QWidget *widget = nullptr;
    QAbstractItemView *view = nullptr;
    if (kind == QLatin1String("table")) {
        auto *table = new QTableView;
        table->verticalHeader()->hide();
        table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        table->setModel(&model);
        widget = view = table;
    } else if (kind == QLatin1String("tree")) {
        auto *tree = new QTreeView;
        tree->setUniformRowHeights(true);
        tree->setRootIsDecorated(false);
        tree->setItemsExpandable(false);
        tree->setModel(&model);
        widget = view = tree;
    } else if (kind == QLatin1String("list")) {
        auto *list = new HeaderedList(&model);
        widget = list;
        view = list->list;
    } else if (kind == QLatin1String("report")) {
        auto *report = new ReportView;
        report->setModel(&model);
        widget = view = report;
    } else {
        std::fprintf(stderr, "usage: view_candidates table|tree|list|report [N]\n");
        return 2;
    }
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    widget->resize(520, 170);
    widget->show();
    settle();

    // The texts first, so that what grows afterwards is the view's.
    constexpr int Batch = 65536;
    std::vector<TextStore> batches;
    for (int done = 0; done < n; done += Batch) {
        TextStore batch;
        for (int i = done; i < std::min(n, done + Batch); ++i)
            batch.append(QStringLiteral("item %1").arg(i));
        batches.push_back(batch);
    }
    model.reserveMore(n, qsizetype(n) * 12);
    const long before = statusKiB("VmRSS:");
    QElapsedTimer total;
    total.start();
    qint64 longest = 0;
    for (const TextStore &batch : batches) {
        QElapsedTimer one;
        one.start();
        model.appendItems(batch);
        settle();
        longest = std::max(longest, one.nsecsElapsed());
    }
    const double seconds = double(total.nsecsElapsed()) / 1e9;
    const long after = statusKiB("VmRSS:");
    batches.clear();
    // What the texts took of the memory reserved for them, and the check marks.
    const double storeKiB =
        (double(model.store().textBytes()) + double(n) * (sizeof(std::uint64_t) + 1.0 / 8)) /
        1024.0;
    QElapsedTimer scroll;
    scroll.start();
    view->scrollTo(model.index(n / 2), QAbstractItemView::PositionAtCenter);
    view->viewport()->repaint();
    std::printf("%s rows %d batches %zu total %.3f s longest_batch %.1f ms scroll_paint %.1f ms "
                "view_bytes_per_row %.1f\n",
                qPrintable(kind), model.rowCount(), size_t((n + Batch - 1) / Batch), seconds,
                double(longest) / 1e6, double(scroll.nsecsElapsed()) / 1e6,
                n > 0 ? (double(after - before) - storeKiB) * 1024.0 / n : 0.0);
    delete widget;
    return 0;
}
