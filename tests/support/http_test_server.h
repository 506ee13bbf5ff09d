#pragma once

// A one-request-at-a-time HTTP server on 127.0.0.1 for the feedback client's
// tests: it records what arrives and answers as told.

#include <QByteArray>
#include <QMap>
#include <QTcpServer>

#include <optional>

namespace sonorel::testing {

class HttpTestServer {
public:
    enum class Answer {
        status,            // `status` with an empty body
        redirect,          // `status` with `Location: location`
        never,
        closeMidResponse,
        drip,              // 200 with a 30-byte body, one byte every 100 ms
        huge,              // 200 with a body of 1 MiB
    };

    HttpTestServer();
    quint16 port() const { return m_server.serverPort(); }
    QString url() const;
    void answer(Answer how, int status = 204, QByteArray location = {})
    {
        m_answer = how;
        m_status = status;
        m_location = std::move(location);
    }

    // The last complete request.
    struct Request {
        QByteArray requestLine;
        QMap<QByteArray, QByteArray> headers;  // names in lower case
        QByteArray body;
    };
    std::optional<Request> last;

private:
    void read(QTcpSocket* socket);

    QTcpServer m_server;
    Answer m_answer = Answer::status;
    int m_status = 204;
    QByteArray m_location;
};

}  // namespace sonorel::testing
