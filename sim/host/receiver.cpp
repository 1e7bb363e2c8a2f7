#include "sim/host/receiver.h"

#include <httplib.h>

#include <chrono>

namespace sim::cli {

RequestSink::~RequestSink() = default;

ReportReceiver::ReportReceiver(RequestSink& sink) : sink_(sink), server_(new httplib::Server) {}

ReportReceiver::~ReportReceiver() { Stop(); }

std::string ReportReceiver::Start() {
  // Log inside the handler, before the answer goes out: the device waits for
  // the answer, so the request reaches the run inside its round.
  auto record = [this](const httplib::Request& request, httplib::Response& response, int status) {
    Json::Value event(Json::objectValue);
    event["event"] = "http";
    event["method"] = request.method;
    event["path"] = request.path;
    Json::Value& headers = event["headers"] = Json::Value(Json::objectValue);
    for (const auto& [name, value] : request.headers) {
      // The library files the connection's addresses among the headers.
      if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
          name == "LOCAL_PORT") {
        continue;
      }
      // Repeated headers are joined, as HTTP allows.
      Json::Value& slot = headers[name];
      slot = slot.isNull() ? Json::Value(value) : Json::Value(slot.asString() + ", " + value);
    }
    event["body"] = request.body;
    event["status"] = status;
    sink_.Received(std::move(event));
    response.status = status;
    response.set_content(status == 200 ? "OK" : "Not Found", "text/plain");
  };
  server_->Post(kPath, [record](const httplib::Request& request, httplib::Response& response) {
    record(request, response, 200);
  });
  // Anything else is logged too, so that a misdirected report shows up.
  auto elsewhere = [record](const httplib::Request& request, httplib::Response& response) {
    record(request, response, 404);
  };
  server_->Get(".*", elsewhere);
  server_->Post(".*", elsewhere);
  server_->Put(".*", elsewhere);
  server_->Delete(".*", elsewhere);

  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) return "cannot start the report receiver on 127.0.0.1";
  // The socket already listens: requests queue until the thread accepts them.
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() only reaches a server that runs: wait for it, so that an early
  // exit cannot leave the thread listening for ever.
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return {};
}

std::string ReportReceiver::Url() const {
  return "http://127.0.0.1:" + std::to_string(port_) + kPath;
}

void ReportReceiver::Stop() {
  if (thread_.joinable()) {
    server_->stop();
    thread_.join();
  }
}

}  // namespace sim::cli
