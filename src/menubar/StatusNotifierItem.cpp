#include "StatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QtEndian>

#include <atomic>

namespace {

// One picture as StatusNotifier hosts take it: width, height, ARGB32 pixels in network byte order.
struct DBusImage {
    int width = 0;
    int height = 0;
    QByteArray pixels;
};
using DBusImages = QList<DBusImage>;
struct DBusToolTip {
    QString iconName;
    DBusImages images;
    QString title;
    QString description;
};

} // namespace

Q_DECLARE_METATYPE(DBusImage)
Q_DECLARE_METATYPE(DBusToolTip)

namespace {

const QDBusArgument& operator<<(QDBusArgument& arg, const DBusImage& image) {
    arg.beginStructure();
    arg << image.width << image.height << image.pixels;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusImage& image) {
    arg.beginStructure();
    arg >> image.width >> image.height >> image.pixels;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator<<(QDBusArgument& arg, const DBusToolTip& tip) {
    arg.beginStructure();
    arg << tip.iconName << tip.images << tip.title << tip.description;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusToolTip& tip) {
    arg.beginStructure();
    arg >> tip.iconName >> tip.images >> tip.title >> tip.description;
    arg.endStructure();
    return arg;
}

void registerTypes() {
    static const bool once = [] {
        qDBusRegisterMetaType<DBusImage>();
        qDBusRegisterMetaType<DBusImages>();
        qDBusRegisterMetaType<DBusToolTip>();
        return true;
    }();
    (void)once;
}

DBusImage wirePicture(const QImage& picture) {
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    DBusImage image{argb.width(), argb.height(),
                    QByteArray(argb.width() * argb.height() * 4, Qt::Uninitialized)};
    auto* out = reinterpret_cast<uchar*>(image.pixels.data());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x, out += 4)
            qToBigEndian<quint32>(line[x], out);
    }
    return image;
}

} // namespace

// The item's face on the bus.
class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ empty)
    Q_PROPERTY(QString IconName READ empty)
    Q_PROPERTY(DBusImages IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ empty)
    Q_PROPERTY(DBusImages OverlayIconPixmap READ noPictures)
    Q_PROPERTY(QString AttentionIconName READ empty)
    Q_PROPERTY(DBusImages AttentionIconPixmap READ noPictures)
    Q_PROPERTY(QString AttentionMovieName READ empty)
    Q_PROPERTY(DBusToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem* item) : QDBusAbstractAdaptor(item), item_(item) {
        connect(item, &StatusNotifierItem::newIcon, this, &StatusNotifierItemAdaptor::NewIcon);
        connect(item, &StatusNotifierItem::newToolTip, this, &StatusNotifierItemAdaptor::NewToolTip);
    }

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("com.tamrik.senvik.connector"); }
    QString title() const { return StatusNotifierItem::title; }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString empty() const { return {}; }
    DBusImages noPictures() const { return {}; }
    DBusImages iconPixmap() const {
        DBusImages images;
        for (const QImage& picture : item_->pictures())
            images << wirePicture(picture);
        return images;
    }
    DBusToolTip toolTip() const { return {{}, {}, item_->toolTipHeading(), item_->toolTipBody()}; }
    // False: a left click is Activate, and the menu is the host's to draw on a right click.
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(DBusMenuExport::objectPath); }

public slots:
    void ContextMenu(int x, int y) { emit item_->contextMenuRequested({x, y}); }
    void Activate(int x, int y) { emit item_->activated({x, y}); }
    void SecondaryActivate(int x, int y) { emit item_->secondaryActivated({x, y}); }
    void Scroll(int /*delta*/, const QString& /*orientation*/) {}

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    StatusNotifierItem* item_;
};

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), menu_(this) {
    registerTypes();
    new StatusNotifierItemAdaptor(this);
    // The well-known name hosts look for; unique per process and per item.
    static std::atomic<int> items{0};
    serviceName_ = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                       .arg(QCoreApplication::applicationPid())
                       .arg(++items);
}

void StatusNotifierItem::watch() {
    if (watcher_ || !bus_.isConnected())
        return;
    watcher_ = new QDBusServiceWatcher(watcherService, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(
        watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
        [this](const QString&, const QString&, const QString& newOwner) { watcherOwnerChanged(newOwner); });
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
    ask << watcherService;
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(ask, 5000), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<QString> owner = *call;
        // An owner change that came first already told the answer.
        if (!watcherPresent_)
            watcherOwnerChanged(owner.isError() ? QString() : owner.value());
        else
            emit watcherChanged(true);
    });
}

void StatusNotifierItem::watcherOwnerChanged(const QString& newOwner) {
    watcherPresent_ = !newOwner.isEmpty();
    registered_ = false;
    emit watcherChanged(watcherPresent_);
    if (watcherPresent_ && started_ && nameOwned_)
        registerWithWatcher();
}

void StatusNotifierItem::start() {
    if (started_ || !bus_.isConnected())
        return;
    started_ = true;
    watch();
    if (!bus_.registerObject(objectPath, this, QDBusConnection::ExportAdaptors) || !menu_.exportOn(bus_))
        qWarning("Orvane 连接器：状态栏图标没能放到 D-Bus 上（对象路径已被占用）。");
    QDBusMessage request = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    request << serviceName_ << uint(4); // DBUS_NAME_FLAG_DO_NOT_QUEUE
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(request, 5000), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<uint> reply = *call;
        // 1: the name is ours. Otherwise watchers also take the connection's own unique name.
        if (reply.isError() || reply.value() != 1)
            serviceName_ = bus_.baseService();
        nameOwned_ = true;
        if (watcherPresent_)
            registerWithWatcher();
    });
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(watcherService, QStringLiteral("/StatusNotifierWatcher"),
                                       watcherService, QStringLiteral("RegisterStatusNotifierItem"));
    call << serviceName_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* pending) {
        pending->deleteLater();
        if (pending->isError()) {
            qWarning("Orvane 连接器：托盘没有接受状态栏图标：%s", qPrintable(pending->error().message()));
            return;
        }
        if (registered_ || !watcherPresent_)
            return;
        registered_ = true;
        emit registeredWithWatcher();
    });
}

void StatusNotifierItem::setIcon(const QList<QImage>& pictures) {
    pictures_ = pictures;
    emit newIcon();
}

void StatusNotifierItem::setToolTip(const QString& heading, const QString& body) {
    if (heading == heading_ && body == body_)
        return;
    heading_ = heading;
    body_ = body;
    emit newToolTip();
}

#include "StatusNotifierItem.moc"
