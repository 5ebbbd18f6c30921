#include "generation/readback.h"

#include "bases/codepage.h"
#include "codes/verify.h"

#include <QCoreApplication>

#include <memory>

namespace codiflux {

namespace {

class ReadBack final : public RecordCheck {
public:
    ReadBack(bool verify, const std::function<void(qint64, char*, int)>& tamper, const GenerationJob& job,
             const PreparedRun& run)
        : tamper_(tamper)
    {
        if (verify) {
            decoder_ = std::make_unique<FieldTextDecoder>(run.width, run.height, job.options, job.parameters.symbology);
            decoder_->setGs1(run.coder->gs1());
        }
        gs1_ = run.coder->gs1();
        utf8_ = carriesUtf8(job.parameters);
    }
    Error check(qint64 number, char* codeText, int codeLength, QByteArrayView value, bool blank) override
    {
        if (tamper_)
            tamper_(number, codeText, codeLength);
        if (!decoder_ || blank)
            return {};
        std::optional<QByteArray> read = decoder_->decode(codeText, codeLength);
        if (read && gs1_)
            read->prepend(decoder_->symbologyIdentifier());
        if (read && QByteArrayView(*read) == value)
            return {};
        return Error(ErrorCode::VerifyFailed, verifyFailureText(number, value.toByteArray(), read, utf8_));
    }

private:
    const std::function<void(qint64, char*, int)> tamper_;
    std::unique_ptr<FieldTextDecoder> decoder_;
    bool gs1_ = false;
    bool utf8_ = false;  // the values are UTF-8 (a QR code's ECI), else Windows-1252
};

}  // namespace

RecordCheckFactory readBackCheck(bool verify, std::function<void(qint64, char*, int)> tamper)
{
    return [verify, tamper = std::move(tamper)](const GenerationJob& job, const PreparedRun& run) {
        return std::make_unique<ReadBack>(verify, tamper, job, run);
    };
}

QString verifyFailureText(qint64 record, const QByteArray& expected, const std::optional<QByteArray>& read, bool utf8)
{
    const QString value = symbolText(expected, utf8);
    if (!read)
        return QCoreApplication::translate("codiflux-cli",
                                           "Vérification : le code de l'enregistrement n°%1 ne se relit pas.\n"
                                           "Valeur à encoder : « %2 »")
            .arg(QString::number(record), value);
    return QCoreApplication::translate("codiflux-cli",
                                       "Vérification : le code de l'enregistrement n°%1 ne redonne pas sa valeur.\n"
                                       "Valeur à encoder : « %2 »\nValeur relue : « %3 »")
        .arg(QString::number(record), value, symbolText(*read, utf8));
}

}  // namespace codiflux
