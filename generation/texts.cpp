#include "generation/texts.h"

#include "codes/encoding.h"
#include "generation/job.h"

namespace codiflux {

using namespace texts;

QString generationText(const char* text)
{
    return QCoreApplication::translate("BaseEncoder", text);
}

QString cancelledText()
{
    return generationText(kTextCancelled);
}

QString outOfMemoryText()
{
    return generationText(kTextOutOfMemory);
}

QString shortRecordText(int sourceKind, qint64 record)
{
    return generationText(sourceKind == BaseDbf ? kTextDbfShort : kTextTextShort).arg(record);
}

QString blankSampleText()
{
    return generationText(kTextBlankSample);
}

QString trialFailedText(int symbology)
{
    return generationText(symbology == SymbologyQRCode ? kTextQrTrial : kTextDatamatrixTrial);
}

QString sameFileText()
{
    return generationText(kTextSameFile);
}

QString cannotOpenSourceText()
{
    return generationText(kTextCannotOpenSource);
}

QString cannotWriteText()
{
    return generationText(kTextCannotWrite);
}
}  // namespace codiflux
