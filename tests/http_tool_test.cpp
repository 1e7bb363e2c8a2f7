// HttpTool against a real HTTP server on the loopback interface: what goes
// out on the wire and what comes back into response_.

#include "net/http_tool.h"

#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/loopback_http.h"

namespace {

using ::testing::ElementsAre;
using ::testing::Pair;
using testing_support::LoopbackServer;
using testing_support::RecordedRequest;
using testing_support::RefusingPort;

const auto* const kCurl = ::testing::AddGlobalTestEnvironment(new testing_support::CurlEnvironment);

constexpr const char* kFormType = "application/x-www-form-urlencoded";

class HttpToolTest : public ::testing::Test {
 protected:
  // Answers every request with status and body as plain text.
  void Answer(int status, std::string body) {
    server_.SetResponder([status, body](const httplib::Request&, httplib::Response& response) {
      response.status = status;
      response.set_content(body, "text/plain");
    });
  }

  RecordedRequest OnlyRequest() const {
    const std::vector<RecordedRequest> requests = server_.Requests();
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? RecordedRequest{} : requests.front();
  }

  LoopbackServer server_;
  HttpTool tool_;
};

// The three kinds of discharge report body, posted as the device posts them.
struct PostedBody {
  const char* label;
  std::string body;
};

class HttpToolPostTest : public HttpToolTest, public ::testing::WithParamInterface<PostedBody> {};

TEST_P(HttpToolPostTest, SendsTheFormPostAsGiven) {
  Answer(200, "accepted");
  const std::string& body = GetParam().body;

  EXPECT_EQ(tool_.Post(server_.Url("/welcome/discharge/"), body, kFormType), CURLE_OK);
  EXPECT_EQ(tool_.response_, "accepted");

  const RecordedRequest request = OnlyRequest();
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/welcome/discharge/");
  EXPECT_EQ(request.body, body);  // raw bytes: "#" and UTF-8 not encoded
  // libcurl drops a custom entry that has no colon, so the bare media type
  // never goes out as a line of its own; "charset:utf-8" goes out as written,
  // and the form content type is libcurl's default for posted fields.
  EXPECT_THAT(request.headers,
              ElementsAre(Pair("Accept", "*/*"), Pair("charset", "utf-8"),
                          Pair("Content-Length", std::to_string(body.size())),
                          Pair("Content-Type", kFormType),
                          Pair("Host", "127.0.0.1:" + std::to_string(server_.port()))));
}

INSTANTIATE_TEST_SUITE_P(
    DischargeReports, HttpToolPostTest,
    ::testing::Values(
        PostedBody{"start",
                   "Play=1&Device_ID=12&SPID_1=130610010010&SPNames=001#48V蓄电池组电压"
                   "&His_DCV=47.5"},
        PostedBody{"progress",
                   "Play=1&Device_ID=12&SPID_1=130610010010&SPNames=001#"
                   "48V蓄电池组电压&His_DCV=47.1235"},
        PostedBody{"end",
                   "Play=0&Device_ID=4294967295&SPID_1=130610010010&SPNames=001#"
                   "48V蓄电池组电压&His_DCV=48"}),
    [](const ::testing::TestParamInfo<PostedBody>& info) { return info.param.label; });

TEST_F(HttpToolTest, PostBodyIsCutAtItsFirstNulByte) {
  const std::string body("Play=1&a=b\0&hidden=1", 20);

  EXPECT_EQ(tool_.Post(server_.Url("/welcome/discharge/"), body, kFormType), CURLE_OK);

  const RecordedRequest request = OnlyRequest();
  EXPECT_EQ(request.body, "Play=1&a=b");
}

TEST_F(HttpToolTest, EmptyResponseBodyLeavesResponseEmpty) {
  EXPECT_EQ(tool_.Post(server_.Url("/welcome/discharge/"), "Play=1", kFormType), CURLE_OK);
  EXPECT_EQ(tool_.response_, "");
  EXPECT_EQ(tool_.Get(server_.Url("/empty"), ""), CURLE_OK);
  EXPECT_EQ(tool_.response_, "");
}

TEST_F(HttpToolTest, ChunkedResponseIsAppendedInArrivalOrder) {
  // Chunks big enough to reach the write function in several calls, each
  // with its own filler byte and a NUL inside, so any reordering, dropping or
  // cutting at a NUL shows.
  std::vector<std::string> chunks;
  std::string expected;
  for (char filler = 'a'; filler < 'a' + 8; ++filler) {
    std::string chunk(40000, filler);
    chunk[1000] = '\0';
    expected += chunk;
    chunks.push_back(std::move(chunk));
  }
  server_.SetResponder([chunks](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("application/octet-stream",
                                          [chunks](size_t offset, httplib::DataSink& sink) {
                                            if (offset == 0) {
                                              for (const std::string& chunk : chunks)
                                                sink.write(chunk.data(), chunk.size());
                                            }
                                            sink.done();
                                            return true;
                                          });
  });

  EXPECT_EQ(tool_.Get(server_.Url("/chunks"), ""), CURLE_OK);
  ASSERT_EQ(tool_.response_.size(), expected.size());
  EXPECT_TRUE(tool_.response_ == expected);
}

TEST_F(HttpToolTest, EachRequestStartsWithAnEmptyResponse) {
  Answer(200, "first body");
  ASSERT_EQ(tool_.Post(server_.Url("/one"), "a=1", kFormType), CURLE_OK);
  ASSERT_EQ(tool_.response_, "first body");

  Answer(200, "second");
  EXPECT_EQ(tool_.Get(server_.Url("/two"), ""), CURLE_OK);
  EXPECT_EQ(tool_.response_, "second");

  Answer(200, "");
  EXPECT_EQ(tool_.Post(server_.Url("/three"), "a=3", kFormType), CURLE_OK);
  EXPECT_EQ(tool_.response_, "");
}

TEST_F(HttpToolTest, FailedRequestAlsoEmptiesTheResponse) {
  Answer(200, "left over");
  ASSERT_EQ(tool_.Get(server_.Url("/one"), ""), CURLE_OK);
  RefusingPort refusing;

  EXPECT_EQ(tool_.Get(refusing.Url("/two"), ""), CURLE_COULDNT_CONNECT);
  EXPECT_EQ(tool_.response_, "");
}

struct GetCase {
  const char* label;
  const char* path;
  const char* query;
  const char* expected_target;
};

class HttpToolGetTest : public HttpToolTest, public ::testing::WithParamInterface<GetCase> {};

TEST_P(HttpToolGetTest, RequestsUrlJoinedWithQuery) {
  Answer(200, "status page");

  EXPECT_EQ(tool_.Get(server_.Url(GetParam().path), GetParam().query), CURLE_OK);
  EXPECT_EQ(tool_.response_, "status page");

  const RecordedRequest request = OnlyRequest();
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.target, GetParam().expected_target);
  EXPECT_EQ(request.body, "");
  // No header list of its own: only libcurl's lines.
  EXPECT_THAT(request.headers,
              ElementsAre(Pair("Accept", "*/*"),
                          Pair("Host", "127.0.0.1:" + std::to_string(server_.port()))));
}

INSTANTIATE_TEST_SUITE_P(
    Queries, HttpToolGetTest,
    ::testing::Values(GetCase{"NoQuery", "/welcome/status/", "", "/welcome/status/"},
                      GetCase{"Query", "/welcome/status/", "?id=12&name=a%20b",
                              "/welcome/status/?id=12&name=a%20b"},
                      GetCase{"QueryWithoutQuestionMark", "/welcome/status", "12",
                              "/welcome/status12"},
                      GetCase{"QueryAfterExistingQuery", "/s?a=1", "&b=2", "/s?a=1&b=2"}),
    [](const ::testing::TestParamInfo<GetCase>& info) { return info.param.label; });

TEST_F(HttpToolTest, ServerErrorIsNoTransferFailure) {
  Answer(500, "<h1>internal error</h1>");

  EXPECT_EQ(tool_.Post(server_.Url("/welcome/discharge/"), "Play=1", kFormType), CURLE_OK);
  EXPECT_EQ(tool_.response_, "<h1>internal error</h1>");
  EXPECT_EQ(tool_.status_, 500);
  EXPECT_EQ(tool_.Get(server_.Url("/missing"), "?x=1"), CURLE_OK);
  EXPECT_EQ(tool_.response_, "<h1>internal error</h1>");
  EXPECT_EQ(tool_.status_, 500);
  Answer(200, "fine");
  EXPECT_EQ(tool_.Post(server_.Url("/welcome/discharge/"), "Play=1", kFormType), CURLE_OK);
  EXPECT_EQ(tool_.status_, 200);
}

TEST_F(HttpToolTest, RedirectIsNotFollowed) {
  server_.SetResponder([](const httplib::Request& request, httplib::Response& response) {
    if (request.path == "/moved") {
      response.set_redirect("/elsewhere", 302);
      response.set_content("see elsewhere", "text/plain");
    } else {
      response.set_content("elsewhere", "text/plain");
    }
  });

  EXPECT_EQ(tool_.Post(server_.Url("/moved"), "Play=1", kFormType), CURLE_OK);
  EXPECT_EQ(tool_.response_, "see elsewhere");
  EXPECT_EQ(tool_.Get(server_.Url("/moved"), ""), CURLE_OK);
  EXPECT_EQ(tool_.response_, "see elsewhere");
  EXPECT_EQ(server_.Requests().size(), 2u);
}

TEST_F(HttpToolTest, PortWithoutListenerGivesConnectError) {
  RefusingPort refusing;

  EXPECT_EQ(tool_.Post(refusing.Url("/welcome/discharge/"), "Play=1", kFormType),
            CURLE_COULDNT_CONNECT);
  EXPECT_EQ(tool_.response_, "");
  EXPECT_EQ(tool_.status_, 0);
  EXPECT_EQ(tool_.Get(refusing.Url("/welcome/status/"), ""), CURLE_COULDNT_CONNECT);
  EXPECT_EQ(tool_.response_, "");
}

TEST_F(HttpToolTest, RequestsOnOneObjectDoNotOverlap) {
  // The server holds each request a while and notes how many are open at
  // once; with the object's lock held for the whole request it is never two.
  std::mutex mutex;
  int open = 0;
  int most_open = 0;
  server_.SetResponder([&](const httplib::Request& request, httplib::Response& response) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      most_open = std::max(most_open, ++open);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
      std::lock_guard<std::mutex> lock(mutex);
      --open;
    }
    response.set_content(request.body, "text/plain");
  });

  std::vector<std::thread> callers;
  std::vector<int> results(4, -1);
  for (int i = 0; i < 4; ++i) {
    callers.emplace_back([this, i, &results] {
      results[i] = i % 2 == 0 ? tool_.Post(server_.Url("/p"), "n=" + std::to_string(i), kFormType)
                              : tool_.Get(server_.Url("/g"), "?n=" + std::to_string(i));
    });
  }
  for (std::thread& caller : callers) caller.join();

  EXPECT_THAT(results, ::testing::Each(CURLE_OK));
  EXPECT_EQ(server_.Requests().size(), 4u);
  EXPECT_EQ(most_open, 1);
}

TEST_F(HttpToolTest, MalformedUrlIsReportedNotThrown) {
  EXPECT_EQ(tool_.Post("", "Play=1", kFormType), CURLE_URL_MALFORMAT);
  EXPECT_EQ(tool_.Get("notascheme://x", ""), CURLE_UNSUPPORTED_PROTOCOL);
}

}  // namespace
