// A small HTTP/1.1 server on 127.0.0.1 for the tests, run by the main loop:
// it records each request and answers with the status and body it is given.
#pragma once
#include <QByteArray>
#include <QTcpServer>
#include <string>
#include <vector>

namespace corvane::test {

struct HttpRequest {
    std::string method;
    std::string path;
    std::string contentType;
    std::string body;
};

class HttpServer {
  public:
    HttpServer();
    ~HttpServer();
    std::string baseUrl() const;
    void answer(int status, const std::string& body = "");
    // When set, requests are read but never answered.
    void setSilent(bool silent) { silent_ = silent; }
    const std::vector<HttpRequest>& requests() const { return requests_; }

  private:
    void accept();
    QTcpServer server_;
    int status_ = 200;
    std::string body_;
    bool silent_ = false;
    std::vector<HttpRequest> requests_;
};

} // namespace corvane::test
