#include "SessionLaunch.h"

#include "AppError.h"
#include "ClientForm.h"
#include "CommandLine.h"
#include "HostPort.h"
#include "ImportFileBytes.h"
#include "MsgBox.h"
#include "RdpBackendLoader.h"
#include "RdpFile.h"
#include "ServerAddress.h"
#include "Translations.h"

#include <QApplication>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

// The checks every address passes wherever it comes in.
void RefuseUnusable(const TClientSettings &settings)
{
    for (const QString &problem : {ServerFieldProblem(settings.Server), PortProblem(settings.Port)})
        if (!problem.isEmpty())
            throw AppError(problem);
}

// A box is read by a user who started the program from a desktop; one at a
// terminal reads standard error.
bool HasTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

bool HasDisplay()
{
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY")
        || qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

// A session window paints with the raster engine: no GL library is needed, and
// loading one (Mesa brings LLVM) costs some 17 MB and a tenth of a second before
// the first frame. The X connection chooses its GL integration while the
// application object is being built; the setting is taken back once it is, so
// that programs started from here do not inherit it.
class RasterOnly {
public:
    RasterOnly() : set_(!qEnvironmentVariableIsSet(kXcbGl))
    {
        if (set_)
            qputenv(kXcbGl, "none");
    }
    void Release()
    {
        if (set_)
            qunsetenv(kXcbGl);
        set_ = false;
    }
    ~RasterOnly() { Release(); }
    RasterOnly(const RasterOnly &) = delete;
    RasterOnly &operator=(const RasterOnly &) = delete;

private:
    static constexpr char kXcbGl[] = "QT_XCB_GL_INTEGRATION";
    bool set_;
};

void PrepareApplication(QApplication &app)
{
    QGuiApplication::setDesktopFileName(QStringLiteral(BRENNIC_APP_ID));
    InstallTranslations(&app);
    QApplication::setQuitOnLastWindowClosed(false);
    InstallErrorMessageBoxes();
}

int TellRefusal(int argc, char *argv[], const QString &message)
{
    std::fprintf(stderr, "%s\n", qPrintable(message));
    if (!HasTerminal() && HasDisplay()) {
        RasterOnly raster;
        QApplication app(argc, argv);
        raster.Release();
        PrepareApplication(app);
        ShowMessageBox(nullptr, message, QMessageBox::Critical);
    }
    return 1;
}

} // namespace

TClientSettings SessionFromAddress(const QString &address)
{
    TClientSettings settings;
    settings.Server = address.trimmed();
    RefuseUnusable(settings);
    const std::optional<THostPort> hostPort = ParseHostPort(address);
    if (!hostPort)
        throw AppError(QStringLiteral("无效的服务器地址: %1\n请写成 主机、主机:端口 或 [IPv6 地址]:端口")
                           .arg(VisibleAddress(address)));
    settings.Server = hostPort->Host;
    if (hostPort->Port)
        settings.Port = hostPort->Port;
    return settings;
}

TClientSettings SessionFromRdpFile(const QString &path)
{
    const auto refuse = [&](const QString &why) { return AppError(QStringLiteral("无法打开连接文件 %1\n%2").arg(path, why)); };
    TImportResult read;
    try {
        read = ReadRdpFile(ReadImportBytes(path, MaxSessionFileSize), QFileInfo(path).fileName());
    } catch (const AppError &error) {
        throw refuse(error.message());
    }
    if (read.Records.empty())
        throw refuse(read.Skipped.empty() ? QStringLiteral("其中没有服务器") : read.Skipped.front().Text);
    TClientSettings settings = read.Records.front().Settings;
    RefuseUnusable(settings);
    settings.Width = std::clamp(settings.Width, MinDesktopSide, MaxDesktopSide);
    settings.Height = std::clamp(settings.Height, MinDesktopSide, MaxDesktopSide);
    return settings;
}

TClientSettings SessionFromRequest(const SessionRequest &request)
{
    return request.kind == SessionRequest::Kind::File ? SessionFromRdpFile(request.value)
                                                      : SessionFromAddress(request.value);
}

int RunCommandLineSession(int argc, char *argv[], const ServerListOptions &options)
{
    // Every request is checked before any window opens: one that cannot be used
    // refuses the whole command line, with the reasons of all that cannot.
    std::vector<TClientSettings> sessions;
    QStringList refusals;
    for (const SessionRequest &request : options.sessions) {
        try {
            sessions.push_back(SessionFromRequest(request));
        } catch (const AppError &error) {
            refusals.append(error.message());
        }
    }
    if (!refusals.isEmpty())
        return TellRefusal(argc, argv, refusals.join(QStringLiteral("\n\n")));
    // The client library loads while the windows are made.
    PreloadRdpBackend();
    int open = 0; // outlives the application object and the windows' ends it counts
    RasterOnly raster;
    QApplication app(argc, argv);
    raster.Release();
    PrepareApplication(app);
    // No manager owns the windows: the program lives as long as any of them does.
    for (const TClientSettings &settings : sessions) {
        TfrmClient *window = OpenClientWindow(nullptr, settings);
        ++open;
        QObject::connect(window, &QObject::destroyed, &app, [&open] {
            if (--open == 0)
                QCoreApplication::quit();
        });
    }
    return app.exec();
}
