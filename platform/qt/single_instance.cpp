#include "platform/qt/single_instance.hpp"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QWidget>

#include <cstdint>

namespace zelin::platform_qt {
namespace {

constexpr char kPrefix[] = "zelin-win-";

QString HashOf(const QString& title) {
  uint64_t h = 1469598103934665603ULL;  // FNV-1a, 64 bits
  for (const char c : title.toUtf8()) {
    h ^= static_cast<uint8_t>(c);
    h *= 1099511628211ULL;
  }
  return QString::number(h, 16).rightJustified(16, QLatin1Char('0'));
}

}  // namespace

QString ChannelFolder() {
  const QByteArray dir = qgetenv("ZELIN_RUNTIME_DIR");
  if (!dir.isEmpty()) return QString::fromLocal8Bit(dir);
  // The user's own runtime folder, so that two users' programs never meet.
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

QString ChannelName(const QString& title) {
  return QDir(ChannelFolder()).filePath(QString::fromLatin1(kPrefix) + HashOf(title));
}

static bool SendToChannel(const QString& channel, const QString& request, QString* reply) {
  QLocalSocket socket;
  socket.connectToServer(channel);
  if (!socket.waitForConnected(kClientTimeoutMs)) return false;
  socket.write((request + QLatin1Char('\n')).toUtf8());
  if (!socket.waitForBytesWritten(kClientTimeoutMs)) return false;
  if (reply != nullptr) {
    QByteArray line;
    while (!line.contains('\n')) {
      if (!socket.waitForReadyRead(kClientTimeoutMs)) return false;
      line += socket.readAll();
      if (line.size() > 4096) return false;
    }
    *reply = QString::fromUtf8(line.left(line.indexOf('\n')));
  }
  socket.disconnectFromServer();
  return true;
}

bool SendRequest(const QString& title, const QString& request, QString* reply) {
  return SendToChannel(ChannelName(title), request, reply);
}

bool ActivateRunning(const QString& title) {
  return SendRequest(title, QStringLiteral("activate"));
}

QStringList RunningTitles() {
  QStringList titles;
  const QDir dir(ChannelFolder());
  const QStringList entries =
      dir.entryList({QString::fromLatin1(kPrefix) + QLatin1Char('*')}, QDir::System | QDir::Files);
  for (const QString& e : entries) {
    QString title;
    if (SendToChannel(dir.filePath(e), QStringLiteral("title"), &title)) titles << title;
  }
  return titles;
}

InstanceChannel::InstanceChannel(QString title, QObject* parent)
    : QObject(parent), title_(std::move(title)) {}

InstanceChannel::~InstanceChannel() {
  if (server_ != nullptr) server_->close();
}

bool InstanceChannel::Listen() {
  const QString name = ChannelName(title_);
  {
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(200)) return false;
  }
  QLocalServer::removeServer(name);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(name)) return false;
  connect(server_, &QLocalServer::newConnection, this, &InstanceChannel::OnConnection);
  return true;
}

void InstanceChannel::Close() {
  if (server_ != nullptr) server_->close();
}

void InstanceChannel::OnConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      while (socket->canReadLine()) {
        const QString line = QString::fromUtf8(socket->readLine()).trimmed();
        if (line == QLatin1String("title")) {
          socket->write((title_ + QLatin1Char('\n')).toUtf8());
          socket->flush();
        } else if (line == QLatin1String("activate")) {
          emit activateRequested();
        } else if (line == QLatin1String("close")) {
          emit closeRequested();
        }
      }
      if (socket->bytesAvailable() > 4096) socket->abort();  // no line that long is valid
    });
  }
}

bool ServeMainWindow(InstanceChannel& channel, QWidget& window) {
  QObject::connect(&channel, &InstanceChannel::activateRequested, &window, [&window] {
    window.showNormal();
    window.raise();
    window.activateWindow();
  });
  QObject::connect(&channel, &InstanceChannel::closeRequested, &window, [&window] { window.close(); });
  return channel.Listen();
}

bool IsRunning(const QString& title) {
  QString reply;
  return SendRequest(title, QStringLiteral("title"), &reply) && reply == title;
}

void RequestClose(const QString& title) {
  SendRequest(title, QStringLiteral("close"));
}

}  // namespace zelin::platform_qt
