#include "generation/texts.h"

#include "codes/encoding.h"
#include "generation/job.h"

namespace codiflux {

using namespace texts;

QString generationText(const char* text)
{
    return QCoreApplication::translate("BaseEncoder", text);
}

QString outOfMemoryText()
{
    return generationText(kTextOutOfMemory);
}

QString blankSampleText()
{
    return blankValueText();
}

QString sameFileText()
{
    return generationText(kTextSameFile);
}

QString cannotWriteText()
{
    return generationText(kTextCannotWrite);
}
}  // namespace codiflux
