#include "secure/TlsSession.h"

#include "secure/ProgramModule.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// What a session is when the module could not be loaded: it fails at once, saying why.
class UnavailableSession final : public TlsSession {
public:
    explicit UnavailableSession(QString why) : why_(std::move(why)) {}

    Result handshake() override { return Result::Failed; }
    Result read(char *, qint64, qint64 &count) override { return nothing(count); }
    Result write(const char *, qint64, qint64 &count) override { return nothing(count); }
    Result shutdown() override { return Result::Done; }
    bool established() const override { return false; }
    QString failureText() const override { return why_; }
    int systemError() const override { return 0; }
    QString cipherSuite() const override { return {}; }

private:
    static Result nothing(qint64 &count)
    {
        count = 0;
        return Result::Failed;
    }

    const QString why_;
};

// Loaded once for the process, from the first session's thread; neither the module nor the
// outcome changes after that.
const ProgramModule::Loaded &module()
{
    static const ProgramModule::Loaded loaded =
        ProgramModule::load(ProgramModule::defaultFolders(), TlsSession::moduleFileName(), TlsSessionFactoryName,
                            u"加密模块"_s);
    return loaded;
}

} // namespace

QString TlsSession::moduleFileName() { return QStringLiteral(TALVINO_TLS_MODULE); }

std::unique_ptr<TlsSession> TlsSession::open(int socket, Role role, const TlsKeys &keys)
{
    const ProgramModule::Loaded &loaded = module();
    if (!loaded.entry)
        return std::make_unique<UnavailableSession>(loaded.error);
    std::unique_ptr<TlsSession> made(reinterpret_cast<TlsSessionFactory>(loaded.entry)(socket, role, &keys));
    if (!made)
        return std::make_unique<UnavailableSession>(u"Cannot set up TLS"_s);
    return made;
}
