#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

// Debian's nginx with the project's deployment file (deploy/nginx), started
// on loopback in a temporary prefix in front of the given service ports. The
// file is used as shipped but for its listen address and its instance list.
class NginxFront
{
public:
    ~NginxFront() { stop(); }

    static QString program() { return QStringLiteral("/usr/sbin/nginx"); }
    static bool available() { return QFile::exists(program()); }

    bool start(const QList<int> &servicePorts, int timeoutMs = 30000)
    {
        if (!prefix.isValid())
            return fail(QStringLiteral("no temporary folder"));
        // Workers run as an unprivileged user when nginx is started as root.
        QFile::setPermissions(prefix.path(),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
        QFile site(QStringLiteral(TOV_SOURCE_DIR "/deploy/nginx/speech-service.conf"));
        if (!site.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read ") + site.fileName());
        QString text = QString::fromUtf8(site.readAll());
        const QRegularExpression instance(
            QStringLiteral("^([ \\t]*)server \\S+:\\d+([^;\\n]*);[ \\t]*\\n"),
            QRegularExpression::MultilineOption);
        const QRegularExpressionMatch first = instance.match(text);
        if (!first.hasMatch())
            return fail(QStringLiteral("no instance line in the deployment file"));
        // Every instance gets the parameters the shipped lines have.
        QString instances;
        for (int port : servicePorts)
            instances += QStringLiteral("%1server 127.0.0.1:%2%3;\n")
                             .arg(first.captured(1))
                             .arg(port)
                             .arg(first.captured(2));
        const int at = first.capturedStart();
        text.remove(instance);
        text.insert(at, instances);
        // Plain HTTP on loopback: the shipped TLS lines name the host's certificates.
        text.remove(QRegularExpression(QStringLiteral("^[ \\t]*(ssl_|server_name)[^\\n]*\\n"),
            QRegularExpression::MultilineOption));
        text.replace(QStringLiteral("/var/log/nginx/speech-service.access.log"),
            prefix.filePath(QStringLiteral("speech-access.log")));
        listenPort = freePort();
        text.replace(QRegularExpression(QStringLiteral("listen [^;]+;")),
            QStringLiteral("listen 127.0.0.1:%1;").arg(listenPort));

        const QString p = prefix.path();
        QFile conf(prefix.filePath(QStringLiteral("nginx.conf")));
        if (!conf.open(QIODevice::WriteOnly))
            return fail(QStringLiteral("cannot write nginx.conf"));
        conf.write(QStringLiteral("daemon off;\nworker_processes 1;\npid %1/nginx.pid;\n"
                                  "error_log %1/error.log;\nevents { worker_connections 512; }\n"
                                  "http {\n  access_log %1/access.log;\n"
                                  "  client_body_temp_path %1/body;\n  proxy_temp_path %1/proxy;\n"
                                  "  fastcgi_temp_path %1/fastcgi;\n  uwsgi_temp_path %1/uwsgi;\n"
                                  "  scgi_temp_path %1/scgi;\n%2\n}\n")
                       .arg(p, text)
                       .toUtf8());
        conf.close();

        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program(),
            { QStringLiteral("-p"), p, QStringLiteral("-e"), p + QStringLiteral("/error.log"),
                QStringLiteral("-c"), conf.fileName() });
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            if (process.state() == QProcess::NotRunning)
                return fail(QStringLiteral("nginx ended: ") + errorLog());
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(listenPort));
            if (probe.waitForConnected(500))
                return true;
            process.waitForFinished(100);
        }
        return fail(QStringLiteral("nginx did not listen: ") + errorLog());
    }

    void stop()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(10000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    }

    int port() const { return listenPort; }
    QString error() const { return why; }
    QString errorLog() const
    {
        QFile f(prefix.filePath(QStringLiteral("error.log")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    // A port free at this moment, for a server that cannot take port 0.
    static int freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

private:
    bool fail(const QString &reason)
    {
        why = reason;
        return false;
    }

    QTemporaryDir prefix;
    QProcess process;
    int listenPort = 0;
    QString why;
};
