#include "http_server.h"

#include <QTcpSocket>

#include "support.h"

namespace corvane::test {

namespace {

std::string headerValue(const QByteArray& head, const QByteArray& name) {
    for (const QByteArray& line : head.split('\n')) {
        int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed().toStdString();
    }
    return {};
}

} // namespace

HttpServer::HttpServer() {
    ensureApplication();
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, [this] { accept(); });
}

HttpServer::~HttpServer() {
    server_.close();
}

std::string HttpServer::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(server_.serverPort());
}

void HttpServer::answer(int status, const std::string& body) {
    status_ = status;
    body_ = body;
}

void HttpServer::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            int headEnd = buffer->indexOf("\r\n\r\n");
            if (headEnd < 0)
                return;
            QByteArray head = buffer->left(headEnd);
            long length = std::atol(headerValue(head, "Content-Length").c_str());
            if (buffer->size() < headEnd + 4 + length)
                return;
            QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
            HttpRequest request;
            request.method = requestLine.value(0).toStdString();
            request.path = requestLine.value(1).toStdString();
            request.contentType = headerValue(head, "Content-Type");
            request.body = buffer->mid(headEnd + 4, length).toStdString();
            requests_.push_back(request);
            buffer->clear();
            if (silent_)
                return;
            QByteArray reply = "HTTP/1.1 " + QByteArray::number(status_) + " Status\r\n" +
                               "Content-Type: text/plain\r\nConnection: close\r\n" +
                               "Content-Length: " + QByteArray::number(qsizetype(body_.size())) +
                               "\r\n\r\n" + QByteArray::fromStdString(body_);
            socket->write(reply);
            socket->disconnectFromHost();
        });
    }
}

} // namespace corvane::test
