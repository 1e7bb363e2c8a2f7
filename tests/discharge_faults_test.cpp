// Faults of the web service behind the discharge report, met by whole rounds:
// nobody listening, an error status, a connection closed in the middle of the
// answer, a slow answer and a reset. Whatever the service does, each round
// completes, sends and stores its record exactly once, the discharge state
// machine moves as it would with a healthy service, no report is sent twice,
// and a lost report leaves one diagnostic line with the curl code.

#include <arpa/inet.h>
#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/osk_controller.h"
#include "plugin/aikorvane.h"
#include "sim/framework/sim_framework.h"
#include "support/loopback_http.h"
#include "support/test_support.h"

namespace {

using testing_support::CoutCapture;
using testing_support::LoopbackServer;
using testing_support::RefusingPort;

const auto* const kCurl = ::testing::AddGlobalTestEnvironment(new testing_support::CurlEnvironment);

constexpr const char* kPath = "/welcome/discharge/";

// A loopback server below HTTP: it reads each request whole, then either
// answers with the head of a response and half its body before closing, or
// resets the connection (SO_LINGER 0) without a byte of answer.
class RawServer {
 public:
  enum class Ending { kCloseMidResponse, kReset };

  explicit RawServer(Ending ending) : ending_(ending) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener_, 4), 0);
    EXPECT_EQ(::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length), 0);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~RawServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  int connections() const { return connections_; }

 private:
  void Serve() {
    while (!stop_) {
      pollfd waiting{listener_, POLLIN, 0};
      if (::poll(&waiting, 1, 50) <= 0) continue;
      const int connection = ::accept(listener_, nullptr, nullptr);
      if (connection < 0) continue;
      ++connections_;
      ReadRequest(connection);
      if (ending_ == Ending::kReset) {
        const linger abort_close{1, 0};
        ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
      } else {
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nhalf of it";
        ::send(connection, head.data(), head.size(), MSG_NOSIGNAL);
      }
      ::close(connection);
    }
  }

  // Reads the head and a body of the announced length (bounded by a 2 s wait).
  static void ReadRequest(int connection) {
    std::string request;
    size_t needed = std::string::npos;
    char buffer[4096];
    while (request.size() < needed) {
      pollfd waiting{connection, POLLIN, 0};
      if (::poll(&waiting, 1, 2000) <= 0) return;
      const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
      if (got <= 0) return;
      request.append(buffer, static_cast<size_t>(got));
      const size_t end = request.find("\r\n\r\n");
      if (end == std::string::npos) continue;
      const size_t field = request.find("Content-Length: ");
      needed = end + 4 +
               (field == std::string::npos ? 0 : std::strtoul(&request[field + 16], nullptr, 10));
    }
  }

  Ending ending_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

enum class Fault { kNoListener, kStatus500, kClosedMidResponse, kSlowAnswer, kReset };

struct FaultCase {
  const char* name;
  Fault fault;
  std::optional<CURLcode> failure;  // the curl code a lost report is logged with
  long refused_status = 0;          // the HTTP status a refused report is logged with
};

constexpr std::chrono::milliseconds kSlowness{1000};

class DischargeFaultTest : public ::testing::TestWithParam<FaultCase> {
 protected:
  void SetUp() override {
    const Fault fault = GetParam().fault;
    if (fault == Fault::kNoListener) {
      refusing_.emplace();
      url_ = refusing_->Url(kPath);
    } else if (fault == Fault::kClosedMidResponse || fault == Fault::kReset) {
      raw_.emplace(fault == Fault::kReset ? RawServer::Ending::kReset
                                          : RawServer::Ending::kCloseMidResponse);
      url_ = raw_->Url(kPath);
    } else {
      http_.emplace();
      http_->SetResponder([fault](const httplib::Request&, httplib::Response& response) {
        if (fault == Fault::kSlowAnswer) {
          std::this_thread::sleep_for(kSlowness);
        } else {
          response.status = 500;
          response.set_content("internal error", "text/plain");
        }
      });
      url_ = http_->Url(kPath);
    }
    ASSERT_EQ(setenv("AIKORVANE_DISCHARGE_URL", url_.c_str(), 1), 0);

    device_.Init(std::weak_ptr<OSKController>(), 12, Json::Value());
    sim::SetSink(device_, sink_);
    Json::Value settings;
    Json::Value& app = settings["appSetting"];
    app["b_mode"] = 2;
    app["max"] = 60;  // raw sample 7000 is 42 V
    app["discharge_v"] = 47.5;
    app["discharge_v_end"] = 48;
    app["discharge_v_diff"] = 0.5;
    settings["hostSetting"]["alarms"]["110610050010"]["level"] = 1;
    settings["hostSetting"]["alarms"]["110610050010"]["value"] = 45.0;
    CoutCapture quiet;
    ASSERT_TRUE(device_.InitSetting(settings));
  }

  void TearDown() override {
    unsetenv("AIKORVANE_DISCHARGE_URL");
    sim::SetVirtualTime(std::nullopt);
  }

  // Requests that reached the service so far (none can without a listener).
  int Requests() const {
    if (http_) return static_cast<int>(http_->Requests().size());
    if (raw_) return raw_->connections();
    return 0;
  }

  struct RoundSeen {
    std::vector<std::string> failure_lines;
    int requests = 0;
    std::chrono::steady_clock::duration took{};
  };

  // One whole round; checks that it sent and stored the device's record once.
  RoundSeen Round(short sample) {
    sim::SetVirtualTime(now_++);
    sink_->Clear();
    const int requests_before = Requests();
    RoundSeen seen;
    const auto start = std::chrono::steady_clock::now();
    {
      CoutCapture capture;
      device_.process(sample);
      for (const std::string& line : capture.Lines()) {
        if (line.find("discharge report to") != std::string::npos) {
          seen.failure_lines.push_back(line);
        }
      }
    }
    seen.took = std::chrono::steady_clock::now() - start;
    seen.requests = Requests() - requests_before;

    const std::string record =
        sim::Hex(reinterpret_cast<const unsigned char*>(&device_.data_), sizeof device_.data_);
    const auto sent = sink_->Events("SendSP");
    const auto stored = sink_->Events("SaveDeviceHistory");
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(stored.size(), 1u);
    if (sent.size() == 1 && stored.size() == 1) {
      EXPECT_EQ(sent[0]["bytes"].asString(), record);
      EXPECT_EQ(stored[0]["bytes"].asString(), record);
    }
    EXPECT_EQ(sink_->Events("DoBatchCheckThreshold").size(), 1u);
    EXPECT_TRUE(device_.rule_values_.empty());
    return seen;
  }

  // What a report that went out (or was lost) must leave behind.
  void ExpectReport(const RoundSeen& seen) {
    const FaultCase& fault = GetParam();
    EXPECT_EQ(seen.requests, fault.fault == Fault::kNoListener ? 0 : 1) << "sent exactly once";
    if (fault.failure) {
      const std::string line = "AIKorvane::RunCheckThreshold discharge report to " + url_ +
                               " failed: curl code " + std::to_string(*fault.failure) + " (" +
                               curl_easy_strerror(*fault.failure) + ")";
      EXPECT_THAT(seen.failure_lines, ::testing::ElementsAre(line));
    } else if (fault.refused_status != 0) {
      const std::string line = "AIKorvane::RunCheckThreshold discharge report to " + url_ +
                               " refused: HTTP status " + std::to_string(fault.refused_status);
      EXPECT_THAT(seen.failure_lines, ::testing::ElementsAre(line));
    } else {
      EXPECT_THAT(seen.failure_lines, ::testing::IsEmpty());
    }
    if (fault.fault == Fault::kSlowAnswer) {
      EXPECT_GE(seen.took, kSlowness);
    }
  }

  std::optional<RefusingPort> refusing_;
  std::optional<LoopbackServer> http_;
  std::optional<RawServer> raw_;
  std::string url_;
  AIKorvane device_;
  std::shared_ptr<sim::RecordingSink> sink_ = std::make_shared<sim::RecordingSink>();
  std::time_t now_ = 1767225600;
};

TEST_P(DischargeFaultTest, RoundsCompleteAndTheMachineMovesOn) {
  const RoundSeen start = Round(7000);  // 42 V: start
  ExpectReport(start);
  EXPECT_EQ(device_.discharge_state_, 1);
  EXPECT_FLOAT_EQ(device_.discharge_last_v_, 42.0f);
  EXPECT_EQ(sink_->Events("CheckThresholdBool").size(), 1u);  // alarm rows still judged

  const RoundSeen steady = Round(7000);  // no change: nothing sent, nothing resent
  EXPECT_EQ(steady.requests, 0);
  EXPECT_THAT(steady.failure_lines, ::testing::IsEmpty());
  EXPECT_EQ(device_.discharge_state_, 1);

  const RoundSeen progress = Round(6900);  // 41.4 V: a step of 0.6
  ExpectReport(progress);
  EXPECT_EQ(device_.discharge_state_, 1);
  EXPECT_FLOAT_EQ(device_.discharge_last_v_, 41.4f);

  const RoundSeen end = Round(8200);  // 49.2 V: above the end voltage
  ExpectReport(end);
  EXPECT_EQ(device_.discharge_state_, 0);
  EXPECT_EQ(device_.discharge_last_v_, 0.0f);

  const RoundSeen idle = Round(8200);
  EXPECT_EQ(idle.requests, 0);
  EXPECT_EQ(device_.discharge_state_, 0);
  EXPECT_FLOAT_EQ(device_.discharge_last_v_, 49.2f);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DischargeFaultTest,
    ::testing::Values(FaultCase{"NoListener", Fault::kNoListener, CURLE_COULDNT_CONNECT},
                      FaultCase{"Status500", Fault::kStatus500, std::nullopt, 500},
                      FaultCase{"ClosedMidResponse", Fault::kClosedMidResponse, CURLE_PARTIAL_FILE},
                      FaultCase{"SlowAnswer", Fault::kSlowAnswer, std::nullopt},
                      FaultCase{"Reset", Fault::kReset, CURLE_RECV_ERROR}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
