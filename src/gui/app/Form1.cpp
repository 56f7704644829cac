#include "Form1.h"

#include "engine/core/Shared.h"
#include "engine/find/FindCommand.h"
#include "engine/platform/Dialogs.h"
#include "engine/platform/FileSystem.h"
#include "engine/platform/FolderSystem.h"
#include "engine/platform/SupportFiles.h"
#include "engine/results/ResultCommands.h"
#include "engine/store/TextListModel.h"
#include "gui/list/DropCommands.h"
#include "gui/list/InputListDrag.h"
#include "gui/list/ListCommands.h"
#include "gui/views/CursorFile.h"
#include "gui/views/HoverPointer.h"
#include "gui/views/ProgressStrip.h"
#include "gui/views/ReportView.h"
#include "gui/views/ReportViewAccessible.h"
#include "gui/views/Skin.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>

#include <vector>

namespace {
// Qt reads a plain top-level widget as a filler; readers look for the main window as a frame,
// named by its caption.
QAccessibleInterface *windowInterface(const QString &className, QObject *object) {
    return className == QLatin1String("Form1")
               ? new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window)
               : nullptr;
}

// Positions and sizes of the layout are in twips, 15 to the pixel.
int px(int twips) {
    return qRound(twips / 15.0);
}
QRect pixels(const QRect &twips) {
    return QRect(px(twips.left()), px(twips.top()), px(twips.width()), px(twips.height()));
}

QString captionOf(const char *name) {
    for (const Form1::Control &control : Form1::Controls)
        if (qstrcmp(control.name, name) == 0)
            return QString::fromLatin1(control.caption);
    return {};
}

const char InputListHint[] = "Drag and drop files here. Double-click item to remove it. Move | "
                             "line to right and out of window to reveal full names.";
const char ResultsListHint[] = "Move | line to right and out of window to reveal full names.";

} // namespace

const Form1::Control Form1::Controls[12] = {
    {"ListView1", "Text List", {120, 630, 7800, 2550}, nullptr},
    {"PushButton1", "Add One Item To List", {120, 3270, 3840, 405}, &Form1::PushButton1_Click},
    {"PushButton5", "Load Data From File", {4080, 3270, 3840, 405}, &Form1::PushButton5_Click},
    {"PushButton7", "Clear List", {120, 3780, 3840, 405}, &Form1::PushButton7_Click},
    {"PushButton2",
     "Load Sample/Example Files",
     {4080, 3780, 3840, 405},
     &Form1::PushButton2_Click},
    {"PushButton4", "Start Finding", {120, 4290, 7800, 405}, &Form1::PushButton4_Click},
    {"ListView2", "Results", {120, 4785, 7800, 2550}, nullptr},
    {"PushButton6", "Save Results As Text File", {120, 7430, 3840, 405}, &Form1::PushButton6_Click},
    {"PushButton12",
     "Save Results With Comma",
     {4080, 7430, 3840, 405},
     &Form1::PushButton12_Click},
    {"PushButton10",
     "Copy Results To Clipboard",
     {120, 7940, 3840, 405},
     &Form1::PushButton10_Click},
    {"PushButton9", "Clear Results", {4080, 7940, 3840, 405}, &Form1::PushButton9_Click},
    {"PushButton11", "Help", {120, 120, 7800, 405}, &Form1::PushButton11_Click},
};

// The icon lives in a static library's resources, which need registering.
static void initResources() {
    Q_INIT_RESOURCE(assets);
}

Form1::Form1(Dialogs &dialogs, Clipboard &clipboard, FileSystem &fileSystem, QString appFolder,
             QWidget *parent, SkinEngine *skinEngine)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      dialogs_(dialogs), clipboard_(clipboard), fileSystem_(fileSystem),
      appFolder_(std::move(appFolder)),
      ownSkinEngine_(skinEngine ? nullptr : std::make_unique<StyleSheetSkin>()),
      skinEngine_(skinEngine ? skinEngine : ownSkinEngine_.get()) {
    initResources();
    static const bool framed = (QAccessible::installFactory(windowInterface), true);
    Q_UNUSED(framed);
    installReportViewAccessibility();
    setWindowTitle(QStringLiteral("Form1"));
    createControls();
    Form_Load();
    if (const QScreen *screen = this->screen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    ListView1->setFocus();
}

Form1::~Form1() = default;

void Form1::createControls() {
    setFixedSize(px(SizeTwips.width()), px(SizeTwips.height()));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    QFont windowFont(QStringLiteral("Arial"), 9, QFont::Bold);
    setFont(windowFont);
    QFont buttonFont(QStringLiteral("Arial"));
    buttonFont.setPointSizeF(11.25);
    buttonFont.setBold(true);

    auto list = [&](TextListModel *&model, bool checkable, const char *hint) {
        model = new TextListModel(checkable, this);
        auto *view = new ReportView(this);
        view->setModel(model);
        view->setFont(windowFont);
        // Report style: one titled column, whole rows selected.
        view->setRowHeight(QFontMetrics(windowFont).height() + 2);
        view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        view->horizontalHeader()->setHighlightSections(false);
        view->horizontalHeader()->setStretchLastSection(false);
        view->setTabKeyNavigation(false);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setToolTip(QString::fromLatin1(hint));
        view->viewport()->setToolTip(QString::fromLatin1(hint));
        return view;
    };
    // Created in tab order.
    std::vector<QPushButton *> buttons;
    QWidget *previous = nullptr;
    for (const Control &c : Controls) {
        QWidget *control;
        if (c.click) {
            auto *button = new QPushButton(QString::fromLatin1(c.caption), this);
            button->setFont(buttonFont);
            button->setAutoDefault(false);
            connect(button, &QPushButton::clicked, this, c.click);
            buttons.push_back(button);
            control = button;
        } else if (!ListView1) { // the input list comes first, then the results
            control = ListView1 = list(inputModel_, false, InputListHint);
        } else {
            control = ListView2 = list(resultsModel_, true, ResultsListHint);
        }
        control->setObjectName(QString::fromLatin1(c.name));
        control->setGeometry(pixels(c.twips));
        if (previous)
            setTabOrder(previous, control);
        previous = control;
    }

    listView1Progress_ = new ProgressStrip(ListView1);
    listView2Progress_ = new ProgressStrip(ListView2);

    resultsModel_->setNewRowsChecked(true);
    listCommands_ = new ListCommands(*this, dialogs_, fileSystem_, *inputModel_, ListView1,
                                     *listView1Progress_, this);
    findCommand_ = new FindCommand(*this, *inputModel_, *resultsModel_, *listView2Progress_, this);
    resultCommands_ = new ResultCommands(*this, dialogs_, clipboard_, fileSystem_, *resultsModel_,
                                         *listView2Progress_, this);
    new InputListDrag(
        ListView1, *inputModel_, *this, [this] { return currentItem(); }, appFolder_, this);
    auto *hover = new HoverPointer(*this, this);
    for (QPushButton *button : buttons)
        hover->watch(button, PointerCustom);
    for (QWidget *list : std::initializer_list<QWidget *>{
             ListView2->viewport(), ListView2->horizontalHeader(), ListView1->horizontalHeader()})
        hover->watch(list, PointerDefault);
    dropCommands_ = new DropCommands(*this, *inputModel_, ListView1, *listView1Progress_, this);
}

void Form1::Form_Load() {
    runCommand(ErrorLocation::FormLoad, [&](Trap &t) {
        t.step(100, [&] { ApplySkin(); });
        QString pointerPath;
        if (t.test(104, [&] {
                pointerPath =
                    findSupportFile(supportFolders(appFolder_), QStringLiteral("HAND-M.CUR"));
                return fileSystem_.fileExists(pointerPath);
            }))
            t.step(106, [&] { customPointer_ = loadCursorFile(pointerPath); });
        t.step(126, [&] { setWindowTitle(QString::fromLatin1(ProductName)); });
        t.step(126, [&] { setWindowIcon(QIcon(QStringLiteral(":/quorvel/quorvel.png"))); });
        t.step(126, [&] { SetApplicationTitle(); });
        t.step(128, [&] { inputModel_->setHeader(captionOf("ListView1")); });
        t.step(130, [&] { ListView1->setColumnWidth(0, px(7000)); });
        t.step(132, [&] { resultsModel_->setHeader(captionOf("ListView2")); });
        t.step(134, [&] { ListView2->setColumnWidth(0, px(7000)); });
    });
}

void Form1::ApplySkin() {
    applySkin(*this, appFolder_, *skinEngine_);
}

void Form1::SetApplicationTitle() {
    applicationTitle_ = shortenApplicationTitle(QString::fromLatin1(ProductName));
}

void Form1::setMousePointer(int value) {
    mousePointer_ = value;
    switch (value) {
    case PointerArrow:
        setCursor(Qt::ArrowCursor);
        break;
    case PointerHourglass:
        setCursor(Qt::WaitCursor);
        break;
    case PointerCustom:
        if (customPointer_)
            setCursor(*customPointer_);
        else
            setCursor(Qt::ArrowCursor);
        break;
    default:
        unsetCursor();
        break;
    }
}

void Form1::showBusyPointer() {
    ++busyCommands_;
    setMousePointer(PointerHourglass);
}

void Form1::endBusyPointer() {
    if (busyCommands_ > 0)
        --busyCommands_;
    if (busyCommands_ == 0)
        setMousePointer(PointerDefault);
}

std::unique_ptr<Progress> Form1::beginProgress(ProgressTarget &target) {
    return progress_.begin(target);
}

void Form1::closeEvent(QCloseEvent *event) {
    // Ends the program at once: running commands unwind at their next turn.
    setClosing();
    event->accept();
}

void Form1::showErrorReport(const QString &text) {
    dialogs_.messageBox(text, QString::fromLatin1(ErrorReportTitle), Dialogs::Buttons::Ok,
                        Dialogs::Icon::Warning);
}

void Form1::message(const QString &text) {
    dialogs_.messageBox(text, applicationTitle_, Dialogs::Buttons::Ok, Dialogs::Icon::None);
}

void Form1::PushButton11_Click() {
    runCommand(ErrorLocation::PushButton11Click, [&](Trap &t) {
        t.step(100, [&] {
            message(QStringLiteral("Questions? Please contact Team Brenvalde at ") +
                    QLatin1String(ContactAddress));
        });
    });
}

int Form1::currentItem() const {
    return listCommands_->currentItem();
}

bool Form1::busyFlag() const {
    return findCommand_->busyFlag();
}

void Form1::setFolderSystem(FolderSystem &folders) {
    dropCommands_->setFolderSystem(folders);
}

// The buttons' commands live with their subsystems.
void Form1::PushButton1_Click() {
    listCommands_->PushButton1_Click();
}
void Form1::PushButton2_Click() {
    listCommands_->PushButton2_Click();
}
void Form1::PushButton4_Click() {
    findCommand_->PushButton4_Click();
}
void Form1::PushButton5_Click() {
    listCommands_->PushButton5_Click();
}
void Form1::PushButton6_Click() {
    resultCommands_->PushButton6_Click();
}
void Form1::PushButton7_Click() {
    listCommands_->PushButton7_Click();
}
void Form1::PushButton9_Click() {
    resultCommands_->PushButton9_Click();
}
void Form1::PushButton10_Click() {
    resultCommands_->PushButton10_Click();
}
void Form1::PushButton12_Click() {
    resultCommands_->PushButton12_Click();
}
