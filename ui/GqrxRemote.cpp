#include "ui/GqrxRemote.h"

#include <QTcpSocket>

#include <cmath>

namespace wg {
namespace {

// Aircraft speak AM from 118 to 137 MHz; FM broadcasting fills 87.5-108 MHz.
constexpr double kAirbandLow = 118e6, kAirbandHigh = 137e6;
constexpr double kBroadcastLow = 87.5e6, kBroadcastHigh = 108e6;
// Broadcast FM occupies 150-200 kHz, narrow FM channels 8-16 kHz; a carrier
// spreads over a few bins only.
constexpr double kWideFmHz = 40e3;
constexpr double kNarrowFmHz = 4e3;

// gqrx answers a command it was sent with RPRT and a number, 0 when done.
bool IsAnswer(const QByteArray& line) {
  if (!line.startsWith("RPRT ")) return false;
  const QByteArray code = line.mid(5);
  bool number = false;
  code.toInt(&number);
  return number && !code.startsWith('+') && !code.contains(' ');
}

}  // namespace

QString TGqrxRemote::DemodulatorFor(double hz, double bandwidthHz) {
  if (hz >= kAirbandLow && hz < kAirbandHigh) return QStringLiteral("AM");
  if (bandwidthHz >= kWideFmHz) return QStringLiteral("WFM");
  if (bandwidthHz >= kNarrowFmHz) return QStringLiteral("FM");
  if (hz >= kBroadcastLow && hz < kBroadcastHigh) return QStringLiteral("WFM");
  return {};
}

TGqrxRemote::TGqrxRemote(QObject* parent) : QObject(parent), socket_(new QTcpSocket(this)) {
  // The socket takes no more from the system than an answer can be: a peer
  // that pours bytes finds the window's thread reading a few hundred of
  // them, then hanging up.
  socket_->setReadBufferSize(kMaxAnswerBytes + 1);
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

void TGqrxRemote::Tune(int64_t hz, const QString& mode) {
  next_ = Request{hz, mode};
  retried_ = false;
  Pump();
}

void TGqrxRemote::Send() {
  const Request& r = *waiting_;
  socket_->write(r.mode.isEmpty() || r.modeSet ? "F " + QByteArray::number(static_cast<qint64>(r.hz)) + "\n"
                                               : "M " + r.mode.toLatin1() + "\n");
  timer_.start(timeoutMs_);
}

void TGqrxRemote::Pump() {
  if (waiting_ || !next_) return;
  switch (socket_->state()) {
    case QAbstractSocket::ConnectedState:
      waiting_ = std::move(next_);
      next_.reset();
      Send();
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

QString TGqrxRemote::NotAnAnswer() { return tr("не ответ удалённого управления gqrx"); }

void TGqrxRemote::Answered() {
  // Never more than an answer's worth in hand: the socket holds no more than
  // that either, so a peer that pours is read a few hundred bytes at a time
  // and given up after the first of them.
  while (socket_->bytesAvailable() > 0) {
    received_ += socket_->read(kMaxAnswerBytes + 1 - received_.size());
    for (qsizetype nl; (nl = received_.indexOf('\n')) >= 0;) {
      const QByteArray line = received_.left(nl).trimmed();
      received_.remove(0, nl + 1);
      if (!waiting_) continue;  // nothing asked: not ours to judge
      if (!IsAnswer(line)) return Fail(NotAnAnswer());
      timer_.stop();
      ++answers_;
      retried_ = false;
      const bool ok = line == "RPRT 0";
      QString detail = QString::fromLatin1(line);
      if (ok && !waiting_->mode.isEmpty() && !waiting_->modeSet) {
        waiting_->modeSet = true;
        Send();
        continue;
      }
      if (!ok && !waiting_->modeSet && !waiting_->mode.isEmpty())
        detail = QStringLiteral("M %1: %2").arg(waiting_->mode, detail);
      const Request done = std::move(*waiting_);
      waiting_.reset();
      emit Done(done.hz, done.mode, ok, detail);
    }
    if (received_.size() > kMaxAnswerBytes) return Fail(NotAnAnswer());
  }
  Pump();
}

void TGqrxRemote::Fail(const QString& why) {
  const std::optional<Request> r = waiting_ ? waiting_ : next_;
  waiting_.reset();
  next_.reset();
  timer_.stop();
  socket_->abort();
  if (r) emit Done(r->hz, r->mode, false, why);
}

}  // namespace wg
