#include "ui/GqrxRemote.h"

#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <optional>

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

// The remote's connection and its state, on the remote's own thread: it is
// made there (moved before anything starts) and deleted there.
class TGqrxRemote::Link : public QObject {
 public:
  using Outcome = std::function<void(qint64 hz, const QString& mode, bool ok, const QString& detail)>;
  explicit Link(Outcome done);
  ~Link() override;

  void SetAddress(const QString& host, quint16 port);
  void SetTimeout(int ms) { timeoutMs_ = ms; }
  void Tune(int64_t hz, const QString& mode);

 private:
  struct Request {
    int64_t hz;
    QString mode;
    bool modeSet = false;  // gqrx took the demodulator: only the frequency is left
  };
  void Pump();
  void Send();
  void Answered();
  void Fail(const QString& why);
  static QString NotAnAnswer();

  const Outcome done_;
  QTcpSocket* socket_;
  QTimer* timer_;
  QString host_ = QString::fromLatin1(kDefaultHost);
  quint16 port_ = kDefaultPort;
  int timeoutMs_ = kDefaultTimeoutMs;
  std::optional<Request> waiting_;  // a command of it sent, its answer not yet in
  std::optional<Request> next_;     // to send once the remote is free
  QByteArray received_;
  int answers_ = 0;       // on the current connection
  bool retried_ = false;  // the command waiting went out a second time
};

TGqrxRemote::TGqrxRemote(QObject* parent) : QObject(parent) {
  thread_.setObjectName(QStringLiteral("gqrx remote"));
  // Done is emitted here, on this object's thread; one still on its way
  // when this object goes is dropped with it.
  link_ = new Link([this](qint64 hz, const QString& mode, bool ok, const QString& detail) {
    QMetaObject::invokeMethod(this, [=, this] { emit Done(hz, mode, ok, detail); }, Qt::QueuedConnection);
  });
  link_->moveToThread(&thread_);
  thread_.start();
}

TGqrxRemote::~TGqrxRemote() {
  // The connection is closed on its thread, without a Done.
  QMetaObject::invokeMethod(link_, [l = link_] { delete l; }, Qt::BlockingQueuedConnection);
  thread_.quit();
  thread_.wait();
}

void TGqrxRemote::SetAddress(const QString& host, quint16 port) {
  host_ = host;
  port_ = port;
  QMetaObject::invokeMethod(link_, [l = link_, host, port] { l->SetAddress(host, port); });
}

void TGqrxRemote::SetTimeout(int ms) {
  QMetaObject::invokeMethod(link_, [l = link_, ms] { l->SetTimeout(ms); });
}

void TGqrxRemote::Tune(int64_t hz, const QString& mode) {
  QMetaObject::invokeMethod(link_, [l = link_, hz, mode] { l->Tune(hz, mode); });
}

TGqrxRemote::Link::Link(Outcome done)
    : done_(std::move(done)), socket_(new QTcpSocket(this)), timer_(new QTimer(this)) {
  // The socket takes no more from the system than an answer can be: a peer
  // that pours bytes finds a few hundred of them read, then the line hung
  // up.
  socket_->setReadBufferSize(kMaxAnswerBytes + 1);
  timer_->setSingleShot(true);
  connect(timer_, &QTimer::timeout, this,
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
      timer_->stop();
      socket_->abort();
      if (next_) QTimer::singleShot(0, this, [this] { Pump(); });
      return;
    }
    Fail(socket_->errorString());
  });
}

TGqrxRemote::Link::~Link() {
  // No Done from the socket's teardown.
  socket_->disconnect(this);
}

void TGqrxRemote::Link::SetAddress(const QString& host, quint16 port) {
  if (host == host_ && port == port_) return;
  host_ = host;
  port_ = port;
  waiting_.reset();
  timer_->stop();
  socket_->abort();
}

void TGqrxRemote::Link::Tune(int64_t hz, const QString& mode) {
  next_ = Request{hz, mode};
  retried_ = false;
  Pump();
}

void TGqrxRemote::Link::Send() {
  const Request& r = *waiting_;
  socket_->write(r.mode.isEmpty() || r.modeSet ? "F " + QByteArray::number(static_cast<qint64>(r.hz)) + "\n"
                                               : "M " + r.mode.toLatin1() + "\n");
  timer_->start(timeoutMs_);
}

void TGqrxRemote::Link::Pump() {
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
      timer_->start(timeoutMs_);
      socket_->connectToHost(host_, port_);
      break;
    default:  // looking up the host, connecting or closing: `connected` or `disconnected` pumps again
      if (!timer_->isActive()) timer_->start(timeoutMs_);
      break;
  }
}

QString TGqrxRemote::Link::NotAnAnswer() { return TGqrxRemote::tr("не ответ удалённого управления gqrx"); }

void TGqrxRemote::Link::Answered() {
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
      timer_->stop();
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
      done_(done.hz, done.mode, ok, detail);
    }
    if (received_.size() > kMaxAnswerBytes) return Fail(NotAnAnswer());
  }
  Pump();
}

void TGqrxRemote::Link::Fail(const QString& why) {
  const std::optional<Request> r = waiting_ ? waiting_ : next_;
  waiting_.reset();
  next_.reset();
  timer_->stop();
  socket_->abort();
  if (r) done_(r->hz, r->mode, false, why);
}

}  // namespace wg
