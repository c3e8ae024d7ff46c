#pragma once

// Message translation through the "ztlinux" text domain.

// Marks a literal for the catalogue without translating it here (tables of messages).
#define N_(text) text

namespace foundation {

// Returns the translation of text in the "ztlinux" domain, or text itself when the
// catalogue has none. The pointer stays valid for the life of the process.
const char* translate(const char* text);

}  // namespace foundation

// Translates a literal; xgettext collects both _ and N_.
#define _(text) ::foundation::translate(text)
