// The interface texts in Vietnamese and English, and the language switch's data.
#pragma once

#include "platform/Text.h"

namespace qel {

// The title of the program's own message boxes.
inline constexpr const char16_t* kApplicationTitle = u"QEL Duzu";

// The text fields every part of the program reads at the moment it shows something. The names
// are the program's field names; "lang" is "vi" or "en" (empty before the first switch).
struct TextTable {
    Text lang;
    Text lwarn, lerror, linfo, llerror, lformaterror, lautoformat, lformatting, lformatted;
    Text lextract, lcanceled, lcancel, lrunapp, lsaved, llistdisk, lfat32only, lfat32ntfs;
    Text lcleandisk, lrecommended, lchoose, lfcopy, linstalling, lpart1, lpart2, lpartnew;
    Text lunplug, lsize, lfatsize;
    Text llwarn, llrepart, lnosupportrepart, lcleandesc, lntfsxp;
    Text ldautopart;  // composed by the repartition window, never by the switch
};

// Captions of the main window's controls that follow the language.
struct LanguageCaptions {
    Text label1, label3, button2, button3, checkBox2, checkBox3;
};

// Fills every field of the table (except ldautopart) with one language: "vi" or "en".
void applyLanguage(TextTable& table, const Text& lang);
LanguageCaptions captionsFor(const Text& lang);

}  // namespace qel
