#pragma once

#include <QtGlobal>

// The language of the user interface: every text exists in Chinese and in
// English. Its number is the index of the window's language box and what
// pickText() and the decoders take.
enum class Language : quint8 { Chinese = 0, English = 1 };

inline int languageIndex(Language language) { return int(language); }
