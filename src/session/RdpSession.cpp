#include "RdpSession.h"

#include "RdpKeyboard.h"
#include "RdpLibrary.h"
#include "RdpWorker.h"

#include <thread>

RdpSession::RdpSession(QObject *parent) : QObject(parent), core_(std::make_shared<RdpCore>())
{
    core_->session = this;
    qRegisterMetaType<RdpDisconnectInfo>();
    qRegisterMetaType<RdpCertificateQuestion>();
}

RdpSession::~RdpSession()
{
    Cancel();
    {
        std::lock_guard guard(core_->lock);
        core_->session = nullptr;
    }
    // The worker owns what it uses; a thread still inside the library is joined
    // by the registry once it has left, so that no window waits for it.
    if (worker_.joinable()) {
        if (*core_->finished)
            worker_.join();
        else
            RdpWorkers::Adopt(core_->finished, std::move(worker_));
    }
}

void RdpSession::Start(const RdpConnectParams &params)
{
    if (started_)
        return;
    PrepareRdpLibrary();
    started_ = true;
    core_->params = params;
    if (params.KeyboardLayout == 0)
        core_->params.KeyboardLayout = RdpKeyboardLayout();
    // A lost network is noticed whether or not the session then reconnects.
    core_->relay.SetLossDetection(params.Reconnect.LossDetectMs);
    RdpWorkers::Add(core_->finished);
    worker_ = std::thread(RunRdpWorker, core_);
}

int RdpSession::Connected() const
{
    return core_->connected;
}

bool RdpSession::Reconnecting() const
{
    return core_->reconnecting;
}

void RdpSession::GiveUpReconnect()
{
    if (!core_->reconnecting)
        return;
    core_->giveUpRequested = true;
    core_->EndReconnect();
}

void RdpSession::Disconnect()
{
    core_->disconnectRequested = true;
    core_->Abort();
    if (core_->reconnecting)
        core_->EndReconnect();
}

void RdpSession::Cancel()
{
    core_->Cancel();
}

RdpFrameBuffer &RdpSession::Frame()
{
    return core_->frame;
}

void RdpSession::AnswerCertificate(RdpCertificateAnswer answer)
{
    std::lock_guard guard(core_->certLock);
    core_->certAnswer = answer;
    core_->certChanged.notify_all();
}

void RdpSession::SetLocalClipboard(const QString &text, const QImage &image)
{
    core_->clipboard.SetLocal(text, image);
    core_->Enqueue({RdpInput::ClipboardChanged});
}

void RdpSession::SendKey(bool down, uint32_t scanCode)
{
    core_->Enqueue({RdpInput::Key, uint16_t(down ? 1 : 0), scanCode});
}

void RdpSession::SendUnicode(bool down, char16_t unit)
{
    core_->Enqueue({RdpInput::Unicode, uint16_t(down ? 1 : 0), unit});
}

void RdpSession::SendPause()
{
    core_->Enqueue({RdpInput::Pause});
}

void RdpSession::SendMouse(uint16_t flags, int x, int y)
{
    core_->Enqueue({RdpInput::Mouse, flags, 0, x, y});
}

void RdpSession::SendExtendedMouse(uint16_t flags, int x, int y)
{
    core_->Enqueue({RdpInput::ExtendedMouse, flags, 0, x, y});
}

void RdpSession::RequestDesktopSize(QSize size)
{
    core_->Enqueue({RdpInput::DesktopSize, 0, 0, size.width(), size.height()});
}

QStringList RdpSession::GraphicsCodecs() const
{
    return core_->graphics.Codecs();
}

bool RdpSession::GraphicsPipelineOpen() const
{
    return core_->graphics.PipelineOpen();
}
