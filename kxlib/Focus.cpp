// The focus (agent instance) of this process.
#include <cstdlib>

#include "KxLib.h"

const char *KXPI_Focus::getFocus()
{
    const char *focus = std::getenv("KXLIB_FOCUS");
    return focus != nullptr ? focus : "";
}
