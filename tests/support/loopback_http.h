#pragma once

// A real HTTP server on the loopback interface for the tests of the HTTP
// client and of the discharge report: it records every request it receives
// and answers with whatever the test's responder says.

#include <gtest/gtest.h>
#include <httplib.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testing_support {

// One request as the server received it.
struct RecordedRequest {
  std::string method;
  std::string target;  // the request line's target, query included
  std::string path;
  std::string body;
  // Header lines the client sent, in the server's (case-insensitive, sorted)
  // order; the server's own REMOTE_/LOCAL_ entries are left out.
  std::vector<std::pair<std::string, std::string>> headers;
};

class LoopbackServer {
 public:
  using Responder = std::function<void(const httplib::Request&, httplib::Response&)>;

  // Listens on an ephemeral port of 127.0.0.1 from construction on; every
  // GET and POST is recorded, then answered 200 with an empty body until a
  // responder is set.
  LoopbackServer();
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by path.
  std::string Url(const std::string& path) const;
  void SetResponder(Responder responder);
  std::vector<RecordedRequest> Requests() const;

 private:
  void Handle(const httplib::Request& request, httplib::Response& response);

  httplib::Server server_;
  int port_ = -1;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<RecordedRequest> requests_;
  Responder responder_;
};

// A loopback port that is bound but never listens, so a connection to it is
// refused at once; the port stays reserved for the object's lifetime.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  int port() const { return port_; }
  std::string Url(const std::string& path) const;

 private:
  int fd_ = -1;
  int port_ = -1;
};

// libcurl's global set-up is the host process's duty; the tests act as host.
class CurlEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace testing_support
