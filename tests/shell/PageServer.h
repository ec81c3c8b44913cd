#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// Serves the test's own pages over HTTP on 127.0.0.1, on a port of the system's choice.
class PageServer : public QObject {
    Q_OBJECT
public:
    PageServer();

    // Serves body (HTML, UTF-8) at path.
    void page(const QString &path, const QByteArray &body);
    // A path whose request is received and never answered.
    void hang(const QString &path);
    // A page titled as given.
    void titled(const QString &path, const QString &title);

    QString url(const QString &path) const;
    int hits(const QString &path) const { return hits_.value(path); }

private:
    void serve(QTcpSocket *socket);

    QTcpServer server_;
    QHash<QString, QByteArray> pages_;
    QHash<QString, int> hits_;
    QList<QString> hanging_;
    QList<QPointer<QTcpSocket>> held_;
};
