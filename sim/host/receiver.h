#pragma once

// The built-in receiver of discharge reports: an HTTP server on the loopback
// interface that answers every report with 200 and logs each request.

#include <json/value.h>

#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace sim::cli {

// Takes each request the receiver answered, as an "http" event, on the
// receiver's thread, before the answer goes out.
class RequestSink {
 public:
  virtual ~RequestSink();
  virtual void Received(Json::Value request) = 0;
};

class ReportReceiver {
 public:
  // The path the device posts its discharge reports to.
  static constexpr const char* kPath = "/welcome/discharge/";

  explicit ReportReceiver(RequestSink& sink);
  ~ReportReceiver();
  ReportReceiver(const ReportReceiver&) = delete;
  ReportReceiver& operator=(const ReportReceiver&) = delete;

  // Binds 127.0.0.1 at an ephemeral port and starts serving; empty on
  // success, else why not.
  std::string Start();
  // http://127.0.0.1:PORT/welcome/discharge/
  std::string Url() const;
  void Stop();

 private:
  RequestSink& sink_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = -1;
};

}  // namespace sim::cli
