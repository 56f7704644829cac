#include "QtClipboard.h"

#include "engine/core/MemoryLimits.h"

#include <QAbstractNativeEventFilter>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <new>

#ifdef QUORVEL_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#endif

namespace {
// Hands out the bytes it was given, so a paste that the event loop serves for another
// program allocates nothing that could fail there: QMimeData would encode its text anew for
// every request, and a failure inside the event loop would end the program.
class EncodedText : public QMimeData {
public:
    EncodedText(QStringList formats, QByteArray bytes)
        : formats_(std::move(formats)), bytes_(std::move(bytes)) {
        current = this;
    }
    ~EncodedText() override {
        if (current == this)
            current = nullptr;
    }

    QStringList formats() const override { return formats_; }
    bool hasFormat(const QString &format) const override { return formats_.contains(format); }
    qint64 size() const { return bytes_.size(); }

    // The text the clipboard holds for other programs, while it is this program's.
    static inline const EncodedText *current = nullptr;

protected:
    QVariant retrieveData(const QString &format, QMetaType type) const override {
        if (!hasFormat(format))
            return {};
        if (type.id() != QMetaType::QString)
            return bytes_;
        try {
            return QString::fromUtf8(bytes_); // a paste in this window
        } catch (...) {
            return {}; // out of memory: the paste gets nothing
        }
    }

private:
    QStringList formats_;
    QByteArray bytes_;
};

#ifdef QUORVEL_XCB
// The X11 clipboard serves STRING and TEXT as Latin-1 it converts from the text in the event
// loop: the text in UTF-16, then the Latin-1 bytes, which an unfinished transfer keeps. A
// failure there would end the program, so such a request, alone or among the pairs of a
// MULTIPLE one, is served only when the memory guard grants those bytes; otherwise it is
// answered with nothing. Every other target is served from the text's own bytes or refused
// by Qt without allocating.
class LatinGuard : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override {
        if (type != "xcb_generic_event_t")
            return false;
        auto *event = static_cast<xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != XCB_SELECTION_REQUEST)
            return false;
        auto *request = static_cast<xcb_selection_request_event_t *>(message);
        xcb_connection_t *connection = x11Connection();
        if (!connection)
            return false;
        if (!clipboard_) {
            clipboard_ = atom(connection, "CLIPBOARD");
            text_ = atom(connection, "TEXT");
            multiple_ = atom(connection, "MULTIPLE");
        }
        if (request->selection != clipboard_)
            return false;
        const qint64 bytes = ownTextBytes();
        if (bytes < 0)
            return false;
        const qint64 conversions = latinConversions(connection, *request);
        if (conversions == 0)
            return false;
        // Each conversion's Latin-1 bytes may stay for its transfer; UTF-16 twice the size is
        // needed once at a time. Each is one block, which freed pieces of the heap may not hold.
        if (memory::roomInOnePiece(conversions < 0 ? memory::Unlimited
                                                   : conversions * bytes + 2 * bytes))
            return false;
        refuse(connection, *request);
        return true;
    }

private:
    // The size of the text this program holds on the clipboard (the copied results' UTF-8,
    // or twice the characters of a text Qt placed, such as the input box's Copy); -1: none.
    static qint64 ownTextBytes() {
        if (EncodedText::current)
            return EncodedText::current->size();
        const QClipboard *clipboard = QGuiApplication::clipboard();
        const QMimeData *data =
            clipboard && clipboard->ownsClipboard() ? clipboard->mimeData() : nullptr;
        return data && data->hasText() ? qint64(data->text().size()) * 2 : -1;
    }

    static xcb_connection_t *x11Connection() {
        auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        return x11 ? x11->connection() : nullptr;
    }

    static xcb_atom_t atom(xcb_connection_t *connection, const char *name) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, false, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    }

    bool converts(xcb_atom_t target) const { return target == XCB_ATOM_STRING || target == text_; }

    // How many Latin-1 conversions the request asks for; -1: a MULTIPLE request too large to
    // look through.
    qint64 latinConversions(xcb_connection_t *connection,
                            const xcb_selection_request_event_t &request) {
        if (converts(request.target))
            return 1;
        if (request.target != multiple_ || request.property == XCB_ATOM_NONE)
            return 0;
        constexpr uint32_t MaxPairs = 256;
        xcb_get_property_reply_t *reply = xcb_get_property_reply(
            connection,
            xcb_get_property(connection, false, request.requestor, request.property,
                             XCB_GET_PROPERTY_TYPE_ANY, 0, MaxPairs * 2),
            nullptr);
        qint64 count = 0;
        if (!reply || reply->format != 32 || reply->bytes_after > 0) {
            count = -1;
        } else {
            const auto *pairs = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
            const int atoms = xcb_get_property_value_length(reply) / 4;
            for (int i = 0; i + 1 < atoms; i += 2)
                count += converts(pairs[i]) ? 1 : 0;
        }
        std::free(reply);
        return count;
    }

    static void refuse(xcb_connection_t *connection, const xcb_selection_request_event_t &request) {
        // The server takes 32 bytes of every event sent.
        union {
            xcb_selection_notify_event_t event;
            char bytes[32];
        } notify{};
        notify.event.response_type = XCB_SELECTION_NOTIFY;
        notify.event.time = request.time;
        notify.event.requestor = request.requestor;
        notify.event.selection = request.selection;
        notify.event.target = request.target;
        notify.event.property = XCB_ATOM_NONE;
        xcb_send_event(connection, false, request.requestor, XCB_EVENT_MASK_NO_EVENT, notify.bytes);
        xcb_flush(connection);
    }

    xcb_atom_t clipboard_ = XCB_ATOM_NONE;
    xcb_atom_t text_ = XCB_ATOM_NONE;
    xcb_atom_t multiple_ = XCB_ATOM_NONE;
};

void guardLatinRequests() {
    static LatinGuard guard;
    if (qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        qGuiApp->installNativeEventFilter(&guard); // again is harmless: it is moved first
}
#else
void guardLatinRequests() {}
#endif
} // namespace

QtClipboard::QtClipboard() {
    if (qGuiApp)
        guardLatinRequests();
}

bool QtClipboard::clear() {
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->clear();
    return true;
}

bool QtClipboard::setText(const QByteArray &utf8) {
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    guardLatinRequests();
    const QStringList formats{QStringLiteral("text/plain"),
                              QStringLiteral("text/plain;charset=utf-8")};
    clipboard->setMimeData(new EncodedText(formats, utf8));
    return true;
}
