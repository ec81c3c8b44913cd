// The backend module on libfreerdp 2: its connections, each run by a worker
// thread (RdpWorker.cpp), and the one symbol it exports.
#include "RdpBackend.h"
#include "RdpKeyboard.h"
#include "RdpLibrary.h"
#include "RdpPixelRoutines.h"
#include "RdpWorker.h"
#include "RdpWorkers.h"

#include <QtGlobal>

#include <thread>

namespace {

class FreeRdp2Connection final : public RdpConnection {
public:
    FreeRdp2Connection(QObject *receiver, RdpSessionEvents *events)
        : core_(std::make_shared<RdpCore>(receiver, events))
    {
    }

    ~FreeRdp2Connection() override
    {
        core_->Forget();
        // The worker owns what it uses; a thread still inside the library is
        // joined by the registry once it has left, so that no window waits for it.
        if (worker_.joinable()) {
            if (*core_->Finished())
                worker_.join();
            else
                RdpWorkers::Adopt(core_->Finished(), std::move(worker_));
        }
    }

    void Start(const RdpConnectParams &params) override
    {
        if (worker_.joinable())
            return;
        PrepareRdpLibrary();
        core_->params = params;
        if (params.KeyboardLayout == 0)
            core_->params.KeyboardLayout = RdpKeyboardLayout();
        // A lost network is noticed whether or not the session then reconnects.
        core_->relay.SetLossDetection(params.Reconnect.LossDetectMs);
        RdpWorkers::Add(core_->Finished());
        worker_ = std::thread(RunRdpWorker, core_);
    }

    int Connected() const override { return core_->Connected(); }
    int ColorDepth() const override { return core_->ColorDepth(); }
    bool Reconnecting() const override { return core_->Reconnecting(); }
    void GiveUpReconnect() override { core_->GiveUpReconnect(); }
    void Disconnect() override { core_->Disconnect(); }
    void Cancel() override { core_->Cancel(); }

    void ReadFrameWithSegment(const std::function<void(const QImage &, int)> &read) const override
    {
        core_->frame.ReadWithSegment(read);
    }

    void AnswerCertificate(RdpCertificateAnswer answer) override { core_->AnswerCertificate(answer); }

    void SetLocalClipboard(const QString &text, const QImage &image) override
    {
        core_->clipboard.SetLocal(text, image);
        core_->Send({RdpInput::ClipboardChanged});
    }

    RdpClipboardContent FetchRemoteClipboard(bool image, int waitMs) override
    {
        const RdpClipboard::Content content = core_->clipboard.Fetch(image, waitMs);
        return {content.Text, content.Image};
    }

    void WithdrawLocalClipboard() override { core_->clipboard.Withdraw(); }

    int RemoteClipboardFetches() const override { return core_->clipboard.Fetches(); }

    void Send(const RdpInput &input) override { core_->Send(input); }
    QStringList GraphicsCodecs() const override { return core_->graphics.Codecs(); }
    bool GraphicsPipelineOpen() const override { return core_->graphics.PipelineOpen(); }

private:
    std::shared_ptr<RdpCore> core_;
    std::thread worker_;
};

class FreeRdp2Backend final : public RdpBackend {
public:
    std::unique_ptr<RdpConnection> NewConnection(QObject *receiver, RdpSessionEvents *events) override
    {
        return std::make_unique<FreeRdp2Connection>(receiver, events);
    }
    uint32_t ScanCode(uint32_t nativeScanCode, int key) override { return RdpScanCode(nativeScanCode, key); }
    int WorkerCount() override { return RdpWorkers::Running(); }
    bool WaitForWorkers(int milliseconds) override { return RdpWorkers::Wait(milliseconds); }
};

} // namespace

extern "C" Q_DECL_EXPORT RdpBackend *BrennicRdpBackend(int interfaceVersion)
{
    if (interfaceVersion != RdpBackendInterfaceVersion)
        return nullptr;
    // Never destroyed, like the library's own state: workers may outlive main.
    static RdpBackend *backend = [] {
        ChooseRdpPixelRoutines();
        return new FreeRdp2Backend;
    }();
    return backend;
}
