// "Listen in gqrx": tunes a running gqrx to a frequency through its remote
// control, a TCP line protocol ("F 145500000\n", answered "RPRT 0\n"; gqrx
// listens on 127.0.0.1:7356 once remote control is switched on), choosing
// its demodulator first when asked to ("M WFM\n", answered the same way).
// gqrx reads one line at a time: each command waits for the answer to the
// one before.
//
// Nothing here waits: connecting, sending and reading the answer run on a
// thread of the remote's own, and Done comes back on the thread that made
// it; a remote that has not answered within the timeout is given up. The
// connection stays open between tunes. An answer is a short line: a peer
// that sends more than kMaxAnswerBytes without a line feed, or a line that
// is not RPRT n, is not gqrx, and is hung up on at once; no more than that
// is ever read from it.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>

#include <cstdint>
#include <optional>

namespace wg {

class TGqrxRemote : public QObject {
  Q_OBJECT
 public:
  static constexpr const char* kDefaultHost = "127.0.0.1";
  static constexpr quint16 kDefaultPort = 7356;
  static constexpr int kDefaultTimeoutMs = 3000;
  // gqrx's answers to F and M are "RPRT n": anything longer is not one.
  static constexpr int kMaxAnswerBytes = 256;

  explicit TGqrxRemote(QObject* parent = nullptr);
  ~TGqrxRemote() override;

  // A new address takes effect with the next tune, on a new connection.
  void SetAddress(const QString& host, quint16 port);
  QString Host() const { return host_; }
  quint16 Port() const { return port_; }
  // How long connecting and each answer may take, ms.
  void SetTimeout(int ms);

  // The demodulator that suits a signal at hz as wide as bandwidthHz (NaN
  // when not known), in gqrx's names: AM in the airband, WFM for broadcast
  // FM, FM for narrow FM; empty when neither says (a carrier outside those
  // bands, or no width known outside them), and gqrx keeps its own.
  static QString DemodulatorFor(double hz, double bandwidthHz);

  // Returns at once; sets the demodulator first unless `mode` is empty.
  // While an earlier tune awaits its answers only the newest one is kept;
  // it is sent once they are in.
  void Tune(int64_t hz, const QString& mode = {});

 signals:
  // The outcome of each tune sent (and of one that could not be sent): ok
  // when gqrx answered RPRT 0 to each command; detail is its last answer or
  // why it failed.
  void Done(qint64 hz, const QString& mode, bool ok, const QString& detail);

 private:
  class Link;
  QString host_ = kDefaultHost;
  quint16 port_ = kDefaultPort;
  QThread thread_;
  Link* link_;  // lives on thread_
};

}  // namespace wg
