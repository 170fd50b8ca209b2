#include "ui/GqrxRemote.h"

#include <QTcpSocket>

namespace wg {

TGqrxRemote::TGqrxRemote(QObject* parent) : QObject(parent), socket_(new QTcpSocket(this)) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this,
          [this] { Fail(QStringLiteral("no answer within %1 ms").arg(timeoutMs_)); });
  connect(socket_, &QTcpSocket::connected, this, [this] { Pump(); });
  connect(socket_, &QTcpSocket::disconnected, this, [this] { QTimer::singleShot(0, this, [this] { Pump(); }); });
  connect(socket_, &QTcpSocket::readyRead, this, [this] { Answered(); });
  connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
    // A connection that served earlier tunes may have been closed by gqrx
    // before or just after the next command went out: that one goes again,
    // once, on a new connection.
    if (e == QAbstractSocket::RemoteHostClosedError && answers_ > 0 && !retried_) {
      if (waiting_ && !next_) next_ = waiting_, retried_ = true;
      waiting_.reset();
      timer_.stop();
      socket_->abort();
      if (next_) QTimer::singleShot(0, this, [this] { Pump(); });
      return;
    }
    Fail(socket_->errorString());
  });
}

TGqrxRemote::~TGqrxRemote() {
  // No Done from the socket's teardown.
  socket_->disconnect(this);
}

void TGqrxRemote::SetAddress(const QString& host, quint16 port) {
  if (host == host_ && port == port_) return;
  host_ = host;
  port_ = port;
  waiting_.reset();
  timer_.stop();
  socket_->abort();
}

void TGqrxRemote::Tune(int64_t hz) {
  next_ = hz;
  retried_ = false;
  Pump();
}

void TGqrxRemote::Pump() {
  if (waiting_ || !next_) return;
  switch (socket_->state()) {
    case QAbstractSocket::ConnectedState:
      socket_->write("F " + QByteArray::number(static_cast<qint64>(*next_)) + "\n");
      waiting_ = next_;
      next_.reset();
      timer_.start(timeoutMs_);
      break;
    case QAbstractSocket::UnconnectedState:
      received_.clear();
      answers_ = 0;
      timer_.start(timeoutMs_);
      socket_->connectToHost(host_, port_);
      break;
    default:  // looking up the host, connecting or closing: `connected` or `disconnected` pumps again
      if (!timer_.isActive()) timer_.start(timeoutMs_);
      break;
  }
}

void TGqrxRemote::Answered() {
  received_ += socket_->readAll();
  for (qsizetype nl; (nl = received_.indexOf('\n')) >= 0;) {
    const QByteArray line = received_.left(nl).trimmed();
    received_.remove(0, nl + 1);
    if (!waiting_) continue;  // nothing asked: not ours to judge
    const int64_t hz = *waiting_;
    waiting_.reset();
    timer_.stop();
    ++answers_;
    retried_ = false;
    emit Done(hz, line == "RPRT 0", QString::fromLatin1(line));
  }
  Pump();
}

void TGqrxRemote::Fail(const QString& why) {
  const std::optional<int64_t> hz = waiting_ ? waiting_ : next_;
  waiting_.reset();
  next_.reset();
  timer_.stop();
  socket_->abort();
  if (hz) emit Done(*hz, false, why);
}

}  // namespace wg
