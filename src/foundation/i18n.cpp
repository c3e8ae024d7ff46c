#include "foundation/i18n.h"

#include <libintl.h>

namespace foundation {

const char* translate(const char* text) {
    return dgettext(ZT_TEXT_DOMAIN, text);
}

}  // namespace foundation
