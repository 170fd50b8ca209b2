// "Listen in gqrx": tunes a running gqrx to a frequency through its remote
// control, a TCP line protocol ("F 145500000\n", answered "RPRT 0\n"; gqrx
// listens on 127.0.0.1:7356 once remote control is switched on).
//
// Nothing here waits: connecting, sending and the answer all run on the
// event loop of the calling thread, and a remote that has not answered
// within the timeout is given up. The connection stays open between tunes.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <optional>

class QTcpSocket;

namespace wg {

class TGqrxRemote : public QObject {
  Q_OBJECT
 public:
  static constexpr const char* kDefaultHost = "127.0.0.1";
  static constexpr quint16 kDefaultPort = 7356;
  static constexpr int kDefaultTimeoutMs = 3000;

  explicit TGqrxRemote(QObject* parent = nullptr);
  ~TGqrxRemote() override;

  // A new address takes effect with the next tune, on a new connection.
  void SetAddress(const QString& host, quint16 port);
  QString Host() const { return host_; }
  quint16 Port() const { return port_; }
  // How long connecting and each answer may take, ms.
  void SetTimeout(int ms) { timeoutMs_ = ms; }

  // Returns at once. While an earlier command awaits its answer only the
  // newest frequency is kept; it is sent once the answer is in.
  void Tune(int64_t hz);

 signals:
  // The outcome of each command sent (and of one that could not be sent):
  // ok when gqrx answered RPRT 0; detail is its answer or why it failed.
  void Done(qint64 hz, bool ok, const QString& detail);

 private:
  void Pump();
  void Answered();
  void Fail(const QString& why);

  QTcpSocket* socket_;
  QTimer timer_;
  QString host_ = kDefaultHost;
  quint16 port_ = kDefaultPort;
  int timeoutMs_ = kDefaultTimeoutMs;
  std::optional<int64_t> waiting_;  // sent, its answer not yet in
  std::optional<int64_t> next_;     // to send once the remote is free
  QByteArray received_;
  int answers_ = 0;       // on the current connection
  bool retried_ = false;  // the command waiting went out a second time
};

}  // namespace wg
