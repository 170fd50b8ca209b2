// The language of what the program writes for the user: the log, the
// receiver report and the survey's messages. The texts are written in
// Russian in the source; English comes from a translation built into the
// program.
//
// One translator is installed for the whole run and only switched, never
// removed or replaced, so that texts worded on another thread never meet a
// translator being torn down.
#pragma once

#include "app/Options.h"

namespace wg {

// Makes `language` the one texts are worded in from now on. The first call
// installs the translator in the running application; make it before any
// thread words a text. Widgets hear of a change through a LanguageChange
// event.
void SetLanguage(Language language);
Language CurrentLanguage();

// The language of the system's messages locale (LC_ALL, else LC_MESSAGES,
// else LANG, as the C library takes them): Russian for a Russian locale,
// English for any other, the C and POSIX locales included. What texts are
// worded in when nothing was chosen.
Language SystemLanguage();

}  // namespace wg
