#include "isEnglish.h"

#include "ProgramFiles.h"

bool isEnglish()
{
    return ProgramFiles::hasEnglishMarker();
}
