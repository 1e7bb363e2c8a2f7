#include "support/loopback_http.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace testing_support {

namespace {

std::string LoopbackUrl(int port, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

bool IsServerEntry(const std::string& name) {
  return name.rfind("REMOTE_", 0) == 0 || name.rfind("LOCAL_", 0) == 0;
}

}  // namespace

LoopbackServer::LoopbackServer() {
  auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    Handle(request, response);
  };
  server_.Get(".*", handler);
  server_.Post(".*", handler);
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("loopback server: no port to bind");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // stop() is only heard once the accept loop runs; the socket already
  // listens, so clients may connect before that.
  while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LoopbackServer::~LoopbackServer() {
  server_.stop();
  thread_.join();
}

std::string LoopbackServer::Url(const std::string& path) const { return LoopbackUrl(port_, path); }

void LoopbackServer::SetResponder(Responder responder) {
  std::lock_guard<std::mutex> lock(mutex_);
  responder_ = std::move(responder);
}

std::vector<RecordedRequest> LoopbackServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void LoopbackServer::Handle(const httplib::Request& request, httplib::Response& response) {
  RecordedRequest recorded{request.method, request.target, request.path, request.body, {}};
  for (const auto& [name, value] : request.headers) {
    if (!IsServerEntry(name)) recorded.headers.emplace_back(name, value);
  }
  Responder responder;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::move(recorded));
    responder = responder_;
  }
  if (responder) responder(request, response);
}

RefusingPort::RefusingPort() {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("refusing port: cannot bind");
  }
  port_ = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort() {
  if (fd_ >= 0) ::close(fd_);
}

std::string RefusingPort::Url(const std::string& path) const { return LoopbackUrl(port_, path); }

void CurlEnvironment::SetUp() {
  // Every request of the tests is meant for the loopback interface, never
  // for a proxy the machine's environment may name.
  ::setenv("no_proxy", "*", 1);
  ::setenv("NO_PROXY", "*", 1);
  ASSERT_EQ(curl_global_init(CURL_GLOBAL_DEFAULT), CURLE_OK);
}

void CurlEnvironment::TearDown() { curl_global_cleanup(); }

}  // namespace testing_support
