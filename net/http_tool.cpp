#include "net/http_tool.h"

#include <curl/curl.h>

namespace {

size_t WriteResponse(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// The whole transfer may take this long (seconds); no other time-out is set.
constexpr long kTransferTimeoutSeconds = 2000;

}  // namespace

int HttpTool::Post(const std::string& url, const std::string& body, const std::string& header) {
  boost::mutex::scoped_lock lock(mutex_);
  response_.clear();
  status_ = 0;
  CURL* handle = curl_easy_init();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, kTransferTimeoutSeconds);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &response_);
  curl_slist* headers = curl_slist_append(nullptr, header.c_str());
  headers = curl_slist_append(headers, "charset:utf-8");
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &WriteResponse);
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.c_str());
  const CURLcode result = curl_easy_perform(handle);
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status_);
  curl_easy_cleanup(handle);
  curl_slist_free_all(headers);
  return static_cast<int>(result);
}

int HttpTool::Get(const std::string& url, const std::string& query) {
  boost::mutex::scoped_lock lock(mutex_);
  response_.clear();
  status_ = 0;
  CURL* handle = curl_easy_init();
  const std::string target = url + query;
  curl_easy_setopt(handle, CURLOPT_URL, target.c_str());
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, kTransferTimeoutSeconds);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 1L);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &WriteResponse);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &response_);
  const CURLcode result = curl_easy_perform(handle);
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status_);
  curl_easy_cleanup(handle);
  return static_cast<int>(result);
}
