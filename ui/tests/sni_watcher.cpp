// A minimal StatusNotifier watcher with a host, for tests: it owns
// org.kde.StatusNotifierWatcher on the session bus, says a host is present
// (so Qt's tray icon uses StatusNotifierItem), and for every item that
// registers prints what a desktop's panel would show of it:
//   ready
//   item <service>
//   icon <IconName>|pixmaps=<count>
//   tooltip <title>
//   menu <label>|<label>|...
// Lines on its standard input act as the user on the last item:
//   activate        a left click on the icon
//   click <label>   choosing that menu item
// Each is answered "done" or "failed". Ends when its standard input closes.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMap>
#include <QSocketNotifier>
#include <QStringList>
#include <cstdio>

#include <unistd.h>

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

void Say(const QString& line) {
  std::printf("%s\n", line.toUtf8().constData());
  std::fflush(stdout);
}

QString g_lastItem;
QString g_lastMenuPath;
QMap<QString, int> g_menuIds;  // label -> dbusmenu id of the last item's menu

// The labels of a dbusmenu layout node "(ia{sv}av)" and of its children.
void CollectLabels(const QDBusArgument& node, QStringList& labels) {
  int id = 0;
  QVariantMap properties;
  node.beginStructure();
  node >> id >> properties;
  if (properties.contains(QStringLiteral("label"))) {
    const QString label = properties.value(QStringLiteral("label")).toString();
    labels << label;
    g_menuIds[label] = id;
  }
  node.beginArray();
  while (!node.atEnd()) {
    QDBusVariant child;
    node >> child;
    CollectLabels(child.variant().value<QDBusArgument>(), labels);
  }
  node.endArray();
  node.endStructure();
}

QVariant ItemProperty(const QString& service, const QString& name) {
  QDBusMessage get = QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
                                                    kPropertiesInterface, QStringLiteral("Get"));
  get << kItemInterface << name;
  const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 10000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
  return reply.arguments().first().value<QDBusVariant>().variant();
}

// Reads an icon pixmap array, a(iiay); how many of its pixmaps are whole
// (width × height ARGB pixels).
int ReadPixmaps(const QDBusArgument& arg) {
  int count = 0;
  arg.beginArray();
  while (!arg.atEnd()) {
    int w = 0, h = 0;
    QByteArray bytes;
    arg.beginStructure();
    arg >> w >> h >> bytes;
    arg.endStructure();
    if (w > 0 && h > 0 && bytes.size() == w * h * 4) ++count;
  }
  arg.endArray();
  return count;
}

QString PixmapCount(const QVariant& pixmaps) {
  return QString::number(ReadPixmaps(pixmaps.value<QDBusArgument>()));
}

QString ToolTipTitle(const QVariant& toolTip) {
  // (s a(iiay) s s): icon name, icon pixmaps, title, text.
  const QDBusArgument arg = toolTip.value<QDBusArgument>();
  QString iconName, title, text;
  arg.beginStructure();
  arg >> iconName;
  ReadPixmaps(arg);
  arg >> title >> text;
  arg.endStructure();
  return title;
}

QStringList MenuLabels(const QString& service, const QString& menuPath) {
  QDBusMessage call = QDBusMessage::createMethodCall(service, menuPath, QStringLiteral("com.canonical.dbusmenu"),
                                                     QStringLiteral("GetLayout"));
  call << 0 << -1 << QStringList();
  const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
  QStringList labels;
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2) return labels;
  CollectLabels(reply.arguments().at(1).value<QDBusArgument>(), labels);
  return labels;
}

void Describe(const QString& service) {
  Say(QStringLiteral("item ") + service);
  const QString iconName = ItemProperty(service, QStringLiteral("IconName")).toString();
  Say(QStringLiteral("icon ") + iconName + QStringLiteral("|pixmaps=") +
      PixmapCount(ItemProperty(service, QStringLiteral("IconPixmap"))));
  Say(QStringLiteral("tooltip ") + ToolTipTitle(ItemProperty(service, QStringLiteral("ToolTip"))));
  const QString menuPath = ItemProperty(service, QStringLiteral("Menu")).value<QDBusObjectPath>().path();
  g_lastItem = service;
  g_lastMenuPath = menuPath;
  g_menuIds.clear();
  Say(QStringLiteral("menu ") + MenuLabels(service, menuPath).join(QLatin1Char('|')));
}

bool Succeeded(const QDBusMessage& call) {
  return QDBusConnection::sessionBus().call(call, QDBus::Block, 10000).type() == QDBusMessage::ReplyMessage;
}

// Acts as the user on the last item (see the head of this file).
bool Act(const QString& command) {
  if (g_lastItem.isEmpty()) return false;
  if (command == QStringLiteral("activate")) {
    QDBusMessage call = QDBusMessage::createMethodCall(g_lastItem, QStringLiteral("/StatusNotifierItem"),
                                                       kItemInterface, QStringLiteral("Activate"));
    call << 0 << 0;
    return Succeeded(call);
  }
  const QString label = command.mid(6);
  if (!command.startsWith(QStringLiteral("click ")) || !g_menuIds.contains(label)) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(g_lastItem, g_lastMenuPath, QStringLiteral("com.canonical.dbusmenu"),
                                                     QStringLiteral("Event"));
  call << g_menuIds.value(label) << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
  return Succeeded(call);
}

class Watcher : public QDBusVirtualObject {
 public:
  QString introspect(const QString&) const override {
    return QStringLiteral(
        "<interface name=\"org.kde.StatusNotifierWatcher\">"
        "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
        "<method name=\"RegisterStatusNotifierHost\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
        "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
        "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
        "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
        "<signal name=\"StatusNotifierItemRegistered\"><arg type=\"s\"/></signal>"
        "<signal name=\"StatusNotifierItemUnregistered\"><arg type=\"s\"/></signal>"
        "<signal name=\"StatusNotifierHostRegistered\"/>"
        "</interface>");
  }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QString member = message.member();
    if (message.interface() == kPropertiesInterface) return AnswerProperty(message, connection);
    if (member == QStringLiteral("RegisterStatusNotifierItem") && !message.arguments().isEmpty()) {
      // An item may name itself by bus name or by object path (then its bus
      // name is the sender's).
      QString service = message.arguments().first().toString();
      if (service.startsWith(QLatin1Char('/'))) service = message.service();
      items_ << service;
      connection.send(message.createReply());
      QMetaObject::invokeMethod(QCoreApplication::instance(), [service] { Describe(service); },
                                Qt::QueuedConnection);
      return true;
    }
    if (member == QStringLiteral("RegisterStatusNotifierHost")) {
      connection.send(message.createReply());
      return true;
    }
    return false;
  }

 private:
  bool AnswerProperty(const QDBusMessage& message, const QDBusConnection& connection) {
    const QVariantMap all{{QStringLiteral("RegisteredStatusNotifierItems"), items_},
                          {QStringLiteral("IsStatusNotifierHostRegistered"), true},
                          {QStringLiteral("ProtocolVersion"), 0}};
    if (message.member() == QStringLiteral("GetAll")) {
      connection.send(message.createReply(QVariant::fromValue(all)));
      return true;
    }
    if (message.member() == QStringLiteral("Get") && message.arguments().size() == 2) {
      const QString name = message.arguments().at(1).toString();
      if (!all.contains(name)) return false;
      connection.send(message.createReply(QVariant::fromValue(QDBusVariant(all.value(name)))));
      return true;
    }
    return false;
  }

  QStringList items_;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QDBusConnection bus = QDBusConnection::sessionBus();
  static Watcher watcher;
  if (!bus.isConnected() || !bus.registerVirtualObject(kWatcherPath, &watcher) ||
      !bus.registerService(kWatcherService)) {
    std::fprintf(stderr, "sni_watcher: cannot serve on the session bus: %s\n",
                 bus.lastError().message().toUtf8().constData());
    return 1;
  }
  Say(QStringLiteral("ready"));
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QByteArray pending;
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      app.quit();
      return;
    }
    pending.append(buffer, n);
    for (qsizetype eol; (eol = pending.indexOf('\n')) >= 0;) {
      const QString command = QString::fromUtf8(pending.left(eol));
      pending.remove(0, eol + 1);
      Say(Act(command) ? QStringLiteral("done") : QStringLiteral("failed"));
    }
  });
  return app.exec();
}
