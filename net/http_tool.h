#pragma once

#include <boost/thread/mutex.hpp>
#include <string>

// A small blocking HTTP client over libcurl's easy interface. Each request
// runs on the calling thread with a handle of its own; the body of the last
// response stays in response_ until the next request on the same object.
class HttpTool {
 public:
  HttpTool() = default;
  ~HttpTool() = default;
  HttpTool(const HttpTool&) = delete;
  HttpTool& operator=(const HttpTool&) = delete;

  // Form POST of body to url with the header list {header, "charset:utf-8"}.
  // Returns the transfer's CURLcode (0 on success; an HTTP error status is no
  // failure here).
  int Post(const std::string& url, const std::string& body, const std::string& header);
  // GET of url followed directly by query (the caller supplies any "?").
  int Get(const std::string& url, const std::string& query);

  std::string response_;
  boost::mutex mutex_;
  // HTTP status of the last response (0 when none arrived). The transfer's
  // result does not tell a refused request from an accepted one.
  long status_ = 0;
};
