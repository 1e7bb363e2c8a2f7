// Fuzz target: the HTTP client against a loopback server that answers with
// arbitrary bytes.
//
// Input: an operation byte (a Post, a Get, or a device round that sends a
// discharge start report), a behaviour byte for the server (reset instead of
// a clean close, answer before reading the request, answer in small pieces),
// then the bytes of the answer. The server always closes the connection once
// the answer is out, so no request can wait for the client's long time-out.

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <string>
#include <thread>

#include "fuzz/fuzz_support.h"
#include "net/http_tool.h"

const char* const fuzz::kTargetName = "http";

namespace {

enum Behaviour : uint8_t { kReset = 1, kAnswerFirst = 2, kPieces = 4 };

// Serves one connection at a time with the answer set for the next one.
class ByteServer {
 public:
  ByteServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      fuzz::Fail("cannot listen on the loopback interface");
    }
    port_ = ntohs(address.sin_port);
    std::thread([this] { Serve(); }).detach();
  }

  std::string Url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/welcome/discharge/";
  }

  void SetAnswer(std::string bytes, uint8_t behaviour) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = std::move(bytes);
    behaviour_ = behaviour;
  }

 private:
  void Serve() {
    for (;;) {
      const int connection = ::accept(listener_, nullptr, nullptr);
      if (connection < 0) continue;
      std::string answer;
      uint8_t behaviour;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        answer = answer_;
        behaviour = behaviour_;
      }
      Answer(connection, answer, behaviour);
    }
  }

  // Waits up to timeout_ms for bytes; returns what recv returned, or -1.
  static ssize_t Receive(int connection, std::string& into, int timeout_ms) {
    pollfd waiting{connection, POLLIN, 0};
    if (::poll(&waiting, 1, timeout_ms) <= 0) return -1;
    char buffer[4096];
    const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
    if (got > 0) into.append(buffer, static_cast<size_t>(got));
    return got;
  }

  static void ReadRequest(int connection) {
    std::string request;
    size_t needed = std::string::npos;
    while (request.size() < needed) {
      if (Receive(connection, request, 500) <= 0) return;
      const size_t header_end = request.find("\r\n\r\n");
      if (header_end == std::string::npos) continue;
      std::string head = request.substr(0, header_end);
      std::transform(head.begin(), head.end(), head.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      const size_t field = head.find("content-length:");
      const size_t body =
          field == std::string::npos ? 0 : std::strtoul(head.c_str() + field + 15, nullptr, 10);
      needed = header_end + 4 + body;
    }
  }

  static void Answer(int connection, const std::string& answer, uint8_t behaviour) {
    if (!(behaviour & kAnswerFirst)) ReadRequest(connection);
    const int on = 1;
    ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const size_t piece = behaviour & kPieces ? 1 + (behaviour >> 4) : answer.size();
    for (size_t sent = 0; sent < answer.size();) {
      const ssize_t wrote = ::send(connection, answer.data() + sent,
                                   std::min(piece, answer.size() - sent), MSG_NOSIGNAL);
      if (wrote <= 0) break;
      sent += static_cast<size_t>(wrote);
    }
    if (behaviour & kReset) {
      const linger abort_close{1, 0};
      ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
    } else {
      ::shutdown(connection, SHUT_WR);
      std::string rest;
      while (Receive(connection, rest, 200) > 0) rest.clear();
    }
    ::close(connection);
  }

  int listener_ = -1;
  unsigned short port_ = 0;
  std::mutex mutex_;
  std::string answer_;
  uint8_t behaviour_ = 0;
};

void CheckResult(int result, const HttpTool& client, size_t answer_size) {
  if (result < 0 || result >= CURL_LAST) fuzz::Fail("no CURLcode: " + std::to_string(result));
  if (client.response_.size() > answer_size) fuzz::Fail("a body longer than the whole answer");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Prepare();
  fuzz::PrivateWorkDir();
  static ByteServer server;
  fuzz::Reader in(data, size);
  const uint8_t operation = in.Byte() % 3;
  const uint8_t behaviour = in.Byte();
  const std::string answer = in.Rest();
  server.SetAnswer(answer, behaviour);

  if (operation == 0) {
    HttpTool client;
    const int result = client.Post(server.Url(), "Play=1&Device_ID=12&His_DCV=47.5",
                                   "application/x-www-form-urlencoded");
    CheckResult(result, client, answer.size());
  } else if (operation == 1) {
    HttpTool client;
    const int result = client.Get(server.Url(), "?Device_ID=12");
    CheckResult(result, client, answer.size());
  } else {
    // A whole round whose discharge start report meets the answer.
    ::setenv("AIKORVANE_DISCHARGE_URL", server.Url().c_str(), 1);
    fuzz::CheckedDevice checked(12);
    Json::Value settings(Json::objectValue);
    settings["appSetting"]["b_mode"] = 2;
    settings["appSetting"]["max"] = 60;
    settings["appSetting"]["discharge_v"] = 47.5;
    if (!fuzz::ApplySettings(checked.device, settings)) fuzz::Fail("the fixed settings failed");
    checked.Process(7000);  // 42 V: a discharge starts
    if (checked.device.discharge_state_ != 1 || checked.device.discharge_last_v_ != 42.0f) {
      fuzz::Fail("the discharge did not start whatever the answer");
    }
  }
  return 0;
}
