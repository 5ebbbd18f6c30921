#include "generation/textpass.h"

#include "generation/texts.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace codiflux {

namespace {

class Utf8TextPass final : public RecordPass {
public:
    Utf8TextPass(Source& source, const RecordPlan& plan, const RecordCoder& coder)
        : source_(source)
        , plan_(plan)
        , coder_(coder)
        , codeLength_(std::size_t(std::max(coder.fieldLength(), 1)))
    {
        trim_ = plan.valueRule;
        trim_.kind = ValueKind::Raw;
        trim_.transcoder = nullptr;  // the value is already the symbol's bytes
    }
    void reserve(std::size_t count) override
    {
        slots_.resize(count);
        codes_.resize(count * codeLength_);
    }
    Error read(std::size_t slot, qint64 number) override
    {
        QByteArray& line = slots_[slot].line;
        if (!source_.nextLine(line) || utf8Units(line) < plan_.sourceLength - 1)
            return Error(ErrorCode::SourceMalformed, source_.shortRecordText(number));
        return {};
    }
    Error code(std::size_t slot, qint64 number) override
    {
        Slot& s = slots_[slot];
        const QString text = QString::fromUtf8(s.line).mid(plan_.valueOffset - 1, plan_.valueLength);
        char32_t refused = 0;
        if (!symbolBytes(text, trim_.utf8, s.value, &refused))
            return Error(ErrorCode::ValueRefused, refusedCharacterText(number, refused));
        const int length = int(s.value.size());
        s.value.append('\0');
        s.value.truncate(codiflux::encodedValue(trim_, s.value.constData(), length, s.value.data()));
        return coder_.code(s.value.constData(), int(s.value.size()), codeText(slot), number);
    }
    char* codeText(std::size_t slot) override { return codes_.data() + slot * codeLength_; }
    QByteArrayView encodedValue(std::size_t slot) const override { return slots_[slot].value; }
    Error write(std::size_t slot, OutputWriter& writer) override
    {
        const QByteArray& line = slots_[slot].line;
        row_.resize(1 + line.size() + qsizetype(plan_.codeLength));
        row_[0] = ' ';
        std::memcpy(row_.data() + 1, line.constData(), std::size_t(line.size()));
        std::memcpy(row_.data() + 1 + line.size(), codeText(slot), std::size_t(plan_.codeLength));
        return writer.writeRecord(row_.data(), row_.size());
    }

private:
    struct Slot {
        QByteArray line;   // as stored
        QByteArray value;  // the symbol's bytes of the range
    };
    Source& source_;
    const RecordPlan& plan_;
    const RecordCoder& coder_;
    const std::size_t codeLength_;
    ValueRule trim_;
    std::vector<Slot> slots_;
    std::vector<char> codes_;
    QByteArray row_;
};

}  // namespace

std::unique_ptr<RecordPass> makeUtf8TextPass(Source& source, const RecordPlan& plan, const RecordCoder& coder)
{
    return std::make_unique<Utf8TextPass>(source, plan, coder);
}

}  // namespace codiflux
