#include "support/http_test_server.h"

#include <QTcpSocket>
#include <QTimer>

namespace sonorel::testing {

HttpTestServer::HttpTestServer()
{
    m_server.listen(QHostAddress::LocalHost);
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(&m_server);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
        }
    });
}

QString HttpTestServer::url() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void HttpTestServer::read(QTcpSocket* socket)
{
    const QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    socket->setProperty("buffer", buffer);
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    Request request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    request.requestLine = lines.value(0).trimmed();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers[lines[i].left(colon).trimmed().toLower()] = lines[i].mid(colon + 1).trimmed();
    }
    const qsizetype length = request.headers.value("content-length").toLongLong();
    if (buffer.size() < headerEnd + 4 + length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    socket->setProperty("buffer", buffer.mid(headerEnd + 4 + length));
    last = request;
    switch (m_answer) {
    case Answer::status:
    case Answer::redirect:
        // One request per connection: every answer meets a fresh one.
        socket->write("HTTP/1.1 " + QByteArray::number(m_status) + " Status\r\n"
                      + (m_answer == Answer::redirect ? "Location: " + m_location + "\r\n" : QByteArray())
                      + "Content-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        break;
    case Answer::never:
        return;
    case Answer::closeMidResponse:
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial");
        socket->flush();
        socket->disconnectFromHost();
        return;
    case Answer::drip: {
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 30\r\nConnection: close\r\n\r\n");
        auto* drip = new QTimer(socket);
        QObject::connect(drip, &QTimer::timeout, socket, [socket, drip, left = 30]() mutable {
            socket->write("x");
            if (--left == 0)
                drip->stop();
        });
        drip->start(100);
        return;
    }
    case Answer::huge:
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\nConnection: close\r\n\r\n"
                      + QByteArray(1 << 20, 'x'));
        socket->disconnectFromHost();
        return;
    }
}

}  // namespace sonorel::testing
