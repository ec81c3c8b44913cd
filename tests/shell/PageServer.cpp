#include "PageServer.h"

#include <QTcpSocket>

PageServer::PageServer()
{
    if (!server_.listen(QHostAddress::LocalHost, 0))
        qFatal("page server: cannot listen on 127.0.0.1");
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = server_.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

void PageServer::page(const QString &path, const QByteArray &body)
{
    pages_.insert(path, body);
}

void PageServer::hang(const QString &path)
{
    hanging_.append(path);
}

void PageServer::titled(const QString &path, const QString &title)
{
    page(path, "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title.toUtf8() + "</title></head><body><p>" + path.toUtf8() + "</p></body></html>");
}

QString PageServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
}

void PageServer::serve(QTcpSocket *socket)
{
    const QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", request);
    if (!request.contains("\r\n\r\n"))
        return;
    socket->setProperty("request", QByteArray());
    const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
    const QString path = line.size() > 1 ? QString::fromUtf8(line.at(1)) : QString();
    ++hits_[path];
    if (hanging_.contains(path)) {
        held_.append(socket);
        return;
    }
    const auto found = pages_.constFind(path);
    const QByteArray body = found == pages_.cend() ? QByteArray("<html><title>404</title></html>") : *found;
    const QByteArray status = found == pages_.cend() ? "404 Not Found" : "200 OK";
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
                                         "Connection: close\r\nContent-Length: "
                  + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket->disconnectFromHost();
}
